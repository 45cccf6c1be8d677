#pragma once

#include "definition.h"
#include "result_workflow.h"

#include <QList>
#include <QWidget>

class ListPanel;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTextEdit;

// The screen every laboratory test is entered on, run by its TestDefinition:
// a new report gets fresh ids and is saved once; Show and a lab id bring a
// stored report back to modify or print it; Show all lists the test's reports.
// What each button does is decided by its ResultWorkflow; the screen lays the
// boxes out, copies them into the workflow's form before an action and shows
// the form after it.
class TestScreen : public QWidget {
    Q_OBJECT
public:
    explicit TestScreen(const TestDefinition& test, QWidget* parent = nullptr);
    ~TestScreen() override;

    const TestDefinition& test() const { return test_; }

    void save();                  // cmdAdd
    void modify();                // cmdModify
    void clear();                 // cmdClear
    void show_mode();             // cmdShow
    void show_all();              // Command3
    void print();                 // cmdPrint
    void print_label();           // Ctrl+L: the shown report's sample label
    void verify();                // cmdVerify
    void record_call();           // cmdCall
    void take_analyzer_results(); // cmdAnalyzer
    void exit();                  // cmdClose
    void lab_id_lookup();         // when lab_id is left
    void patient_lookup();        // when patient_id is left
    void show_page(int page);     // screens with pages (from 1)
    void step_template(int step); // screens with finding templates: +1 or -1
    int template_no() const { return workflow_.template_no(); }
    // As Show, the lab id typed and the box left.
    void look_up(qint64 lab_id);
    // The screen (opened for an old patient) results a test of this order.
    void take_order(qint64 accession, qint64 patient_id, const QString& doctor);
    // Opens `test`'s screen as for an old patient, to result it for the
    // ordered sample (refused, said so, while that screen is open already:
    // it may hold unsaved work).
    static TestScreen* open_for_order(const Investigation& test, const struct OrderedSample& sample);

    QWidget* result_box(int index) const { return boxes_.value(index); }
    const ResultWorkflow& workflow() const { return workflow_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Building the screen (result_screen_layout.cpp).
    void build();
    QWidget* build_results();
    QWidget* build_section(int section);
    QWidget* new_result_box(int index, QWidget* parent);
    void build_buttons();
    void fit_to_screen();

    // What the user typed, into the form; the form, onto the screen.
    void read_form();
    void show_form();
    // Runs one action of the workflow between the two.
    void act(const std::function<void()>& action);

    const TestDefinition& test_;

    QLineEdit* lab_id_ = nullptr;
    QLineEdit* patient_id_ = nullptr;
    QLineEdit* p_name_ = nullptr;
    QLineEdit* date_ = nullptr;   // Text5
    QLineEdit* age_ = nullptr;    // Text4
    QLineEdit* sex_ = nullptr;    // Text3
    QComboBox* doctor_ = nullptr; // text2
    QTextEdit* rtb_ = nullptr;
    QList<QWidget*> boxes_;
    QList<QWidget*> pages_;
    QPushButton* save_ = nullptr;
    QPushButton* modify_ = nullptr;
    QPushButton* verify_ = nullptr;
    QPushButton* call_ = nullptr;
    QPushButton* analyzer_ = nullptr;
    class QLabel* sign_off_ = nullptr;
    ListPanel* list_ = nullptr;

    ResultWorkflow workflow_;
    bool showing_form_ = false; // the program, not the user, moves the focus
};

// Registers the twelve test screens with the menu's screen registry.
void register_test_screens();
