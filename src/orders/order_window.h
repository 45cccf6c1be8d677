#pragma once

#include "investigations.h"

#include <QList>
#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

inline constexpr char kOrderTestsScreen[] = "order_tests";
inline constexpr char kOrdersWaitingScreen[] = "orders_waiting";

// The front desk orders tests for a registered patient: the patient's number
// (looked up as it is left), the referring doctor, a box per test, the
// priority and a note. Save stores one accession per sample kind and offers
// their labels.
class OrderWindow : public QWidget {
    Q_OBJECT
public:
    explicit OrderWindow(QWidget* parent = nullptr);

    void look_up();                                  // when the patient's number is left
    void save();                                     // Save
    void clear();                                    // Clear
    Q_INVOKABLE void set_patient(qint64 patient_id); // opened for a patient (from registration)
    QCheckBox* test_box(const Investigation* test) const;

private:
    QLineEdit* patient_id_ = nullptr;
    QLabel* patient_ = nullptr; // the name, age and sex looked up
    QComboBox* doctor_ = nullptr;
    QComboBox* priority_ = nullptr;
    QLineEdit* note_ = nullptr;
    QList<QCheckBox*> tests_;     // in the order of the catalogue
    std::optional<qint64> found_; // the patient looked up
};

// Registers the order windows with the screen registry.
void register_order_screens();
