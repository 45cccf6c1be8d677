#pragma once

#include <QWidget>

class ListPanel;

// "Reports to verify": every report not verified yet, oldest first. Enter
// (or a double click) opens the chosen report on its test screen, where the
// pathologist verifies it.
class VerifyListWindow : public QWidget {
    Q_OBJECT
public:
    explicit VerifyListWindow(QWidget* parent = nullptr);

    // Reads the list again (after a verification, say).
    void refresh();
    // Opens the report on this row on its test screen.
    void open_report(int row);
    ListPanel* list() const { return list_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ListPanel* list_ = nullptr;
};

inline constexpr char kVerifyListScreen[] = "verify_list";
