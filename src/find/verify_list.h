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
    // Back to the list (from the test screen where a report was verified):
    // it is read again, so a verified report is no longer listed.
    void changeEvent(QEvent* event) override;

private:
    ListPanel* list_ = nullptr;
    bool left_ = false; // another window was active since the list was read
};

inline constexpr char kVerifyListScreen[] = "verify_list";
