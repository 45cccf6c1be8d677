#pragma once

#include <QWidget>

class QDateEdit;
class QTableWidget;

inline constexpr char kTurnaroundScreen[] = "turnaround";

// How long the ordered tests took over a chosen period: per test, the number
// resulted and the median and 90th percentile of the minutes from ordered to
// resulted and from resulted to verified; the urgent orders in a table of
// their own.
class TurnaroundWindow : public QWidget {
    Q_OBJECT
public:
    explicit TurnaroundWindow(QWidget* parent = nullptr);

    void show_period(); // Show
    QTableWidget* all() const { return all_; }
    QTableWidget* urgent() const { return urgent_; }
    void set_period(const QDate& from, const QDate& to);

private:
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QTableWidget* all_ = nullptr;
    QTableWidget* urgent_ = nullptr;
};
