#pragma once

#include "core_tables.h"

#include <QWidget>

#include <optional>

class ListPanel;
class QLineEdit;
class QPushButton;
class QTextEdit;

// The registration screen `patient_reg`: adds patients with a generated
// number (new mode), looks them up by number and stores corrections (look-up
// mode), and lists every registered patient.
class RegistrationScreen : public QWidget {
    Q_OBJECT
public:
    explicit RegistrationScreen(QWidget* parent = nullptr);

    void save();      // cmdAdd
    void modify();    // cmdModify
    void clear();     // cmdClear
    void show_mode(); // cmdShow
    void look_up();   // when Text1 loses the focus
    void show_all();  // Command3
    void exit();      // cmdClose

    ~RegistrationScreen() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLineEdit* line(const char* name) const;
    QWidget* box(const char* name) const;
    void offer_next_number();
    // The number and the name are there; otherwise says so.
    bool important_data_given() const;

    ListPanel* list_panel_ = nullptr;
    // The patient as the last look-up found it: Modify stores only while the
    // stored row still reads so.
    std::optional<Patient> looked_up_;
    std::optional<qint64> last_added_; // the patient Save added last, for Order tests
    void add_order_button();
    // The registration number this screen offers, reserved for it (0: none).
    qint64 reserved_ = 0;
    QPushButton* save_ = nullptr;
    QPushButton* modify_ = nullptr;
};

// Registers the screen with the menu's screen registry.
void register_registration_screen();
