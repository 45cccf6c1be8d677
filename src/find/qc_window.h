#pragma once

#include <QWidget>

class QLabel;
class QTableWidget;

// "Quality control results": what the analyzers sent for their control and
// calibrator samples, newest first. Read only: these results never reach a
// report. Reached from the pending analyzer results window (Alt+Q).
class QcResultsWindow : public QWidget {
    Q_OBJECT
public:
    explicit QcResultsWindow(QWidget* parent = nullptr);

    void refresh();
    QTableWidget* grid() const { return grid_; }

private:
    QTableWidget* grid_ = nullptr;
    QLabel* count_ = nullptr;
};

inline constexpr char kQcResultsScreen[] = "qc_results";
