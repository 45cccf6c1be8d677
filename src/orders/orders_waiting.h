#pragma once

#include "orders.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

// Every accession with a test not yet resulted, urgent first, then oldest,
// read a page at a time as the list is scrolled.
// A scanned label (the scanner types the accession and Enter) selects its
// row, and marks the sample received when "Scanning marks received" is
// ticked; Enter on a row opens its first waiting test's screen for the
// patient, filled from the order.
class OrdersWaitingWindow : public QWidget {
    Q_OBJECT
public:
    explicit OrdersWaitingWindow(QWidget* parent = nullptr);

    void refresh();
    void scanned();            // Enter in the scan box
    void open_first_waiting(); // Enter on a row
    void mark(bool received);  // Collected, Received
    void print_label();        // Label
    QTableWidget* table() const { return table_; }

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const OrderedSample* selected() const;
    // Reads the next page of a long list onto its end; false when none is left.
    bool read_more();
    void show_rows(int from); // the rows of samples_ from `from` on, and the count

    QLabel* count_ = nullptr;
    int total_ = 0;
    QLineEdit* scan_ = nullptr;
    QCheckBox* marks_received_ = nullptr;
    QTableWidget* table_ = nullptr;
    QList<OrderedSample> samples_;
    bool left_ = false;
};
