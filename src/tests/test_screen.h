#pragma once

#include "db_error.h"
#include "test_definition.h"
#include "test_reports.h"

#include <QList>
#include <QWidget>

#include <memory>

class ListPanel;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTextEdit;
class ReportEngine;

// The screen every laboratory test is entered on, run by its TestDefinition:
// a new report gets fresh ids and is saved once; Show and a lab id bring a
// stored report back to modify or print it; Show all lists the test's reports.
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
    void exit();                  // cmdClose
    void lab_id_lookup();         // when lab_id is left
    void patient_lookup();        // when patient_id is left
    void show_page(int page);     // screens with pages (from 1)
    void step_template(int step); // screens with finding templates: +1 or -1
    int template_no() const { return template_no_; }

    QWidget* result_box(int index) const { return boxes_.value(index); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Building the screen (test_screen_layout.cpp).
    void build();
    QWidget* build_results();
    QWidget* build_section(int section);
    QWidget* new_result_box(int index, QWidget* parent);
    void build_buttons();
    void fit_to_screen();

    bool box_is_empty(int index) const;
    QString remarks() const;
    void set_remarks(const QString& text);
    // Fresh locked ids: the next lab id, and the next patient id when `patient` is set.
    void offer_fresh_ids(bool patient);
    void fill_doctors();
    void show_template();
    // Save and modify store nothing for a patient number that does not exist
    // or whose name is not the one on screen: the user is told so.
    void patient_missing();
    // Save's failure handler; returns true when Save must end.
    bool save_failed(const DbError& error);
    // Runs the print request; a failure is told to the user. Returns whether it printed.
    bool run_print();

    const TestDefinition& test_;
    std::unique_ptr<ReportEngine> engine_;

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
    ListPanel* list_ = nullptr;

    int template_no_ = 1;
    bool in_lookup_ = false;
    // Stored rows of the looked-up report that its boxes do not show: a row
    // whose caption matches no box (and every row after it), and a result the
    // length rule emptied (with its box). Modify keeps them.
    QList<qint64> unshown_rows_;
    QList<std::pair<qint64, int>> emptied_rows_;
    // The report as the lookup found it: modify stores only while it still reads so.
    std::optional<ReportSnapshot> looked_up_;
};

// Registers the twelve test screens with the menu's screen registry.
void register_test_screens();
