#pragma once

#include "analyzer_review.h"

#include <QWidget>

class QTableView;
class PendingModel;

// "Pending analyzer results": what the analyzers sent and no Save has taken
// yet, by lab id: first the results ready for their reports, then apart
// those whose code maps to no box of the report's test and those whose lab
// id has no report yet. Enter (or a double click) opens the report's test
// screen with its lab id looked up, where the Analyzer results button fills it.
class PendingResultsWindow : public QWidget {
    Q_OBJECT
public:
    explicit PendingResultsWindow(QWidget* parent = nullptr);

    void refresh();
    void open_row(int row);
    QTableView* grid() const { return grid_; }
    const QList<PendingLine>& lines() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableView* grid_ = nullptr;
    PendingModel* model_ = nullptr;
    class QLabel* count_ = nullptr;
};

inline constexpr char kPendingResultsScreen[] = "pending_results";
