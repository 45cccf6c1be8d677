#pragma once

#include "trends.h"

#include <QWidget>

#include <QHash>

#include <memory>

class ListPanel;
class QLabel;
class ReportEngine;

// A patient's details and every report of the patient, newest first. From a
// selected report: Print (its own report file), Open (its test screen showing
// it) and the cumulative report of its test over a range of dates.
class PatientHistoryWindow : public QWidget {
    Q_OBJECT
public:
    explicit PatientHistoryWindow(QWidget* parent = nullptr);
    ~PatientHistoryWindow() override;

    // Shows the patient; false (and said so) when the patient cannot be read.
    bool show_patient(qint64 patient_id);
    qint64 patient_id() const { return patient_id_; }
    ListPanel* list() const { return list_; }

    void print_selected();
    void open_selected();
    // The cumulative report of the selected report's test, from `from` to `to`,
    // with the chart of `chart` (one of that test's items) below its tables.
    void cumulative(const QDate& from, const QDate& to, const std::optional<TrendItem>& chart = std::nullopt);
    void ask_cumulative();
    // Trend: an item of the patient's results drawn over the report dates.
    void ask_trend();
    class TrendWindow* show_trend(const struct TrendItem& item);

private:
    int selected_row() const;
    std::optional<TrendItem> choose_trend_item();
    // The test of the selected report (its row in `row`); nullptr, said so, when none.
    const struct Investigation* selected_test(int* row) const;

    std::unique_ptr<ReportEngine> engine_;
    // The patient's details, one named label each (a screen reader reads
    // "Name, Asha D'Souza"), keyed by their caption.
    QHash<QString, QLabel*> details_;
    ListPanel* list_ = nullptr;
    qint64 patient_id_ = 0;
};

inline constexpr char kPatientHistoryScreen[] = "patient_history";
