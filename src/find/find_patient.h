#pragma once

#include <QWidget>

class ListPanel;
class QLineEdit;

// The "Find patient" window: one search box and the patients it finds as the
// user types (any part of a name, a phone or mobile number, a patient id or a
// lab id), newest registration first, sortable by any column. Enter or a
// double click opens the patient's history.
class FindPatientWindow : public QWidget {
    Q_OBJECT
public:
    explicit FindPatientWindow(QWidget* parent = nullptr);

    void search(const QString& text);
    void sort_by(int column);
    // Opens the history of the patient on this row of the list.
    void open_history(int row);
    ListPanel* list() const { return list_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // How many patients the list holds, once it is read to its end.
    void show_count();
    QLineEdit* search_ = nullptr;
    class QLabel* count_ = nullptr;
    ListPanel* list_ = nullptr;
    int sort_column_ = 6; // Registered
    bool descending_ = true;
};

void register_find_screens();

inline constexpr char kFindPatientScreen[] = "find_patient";
