// The result screens through their widgets: what every screen shows of its
// workflow, on three screens of different build; the names, tab order and
// length rule of all twelve; then only what a screen does differently.
#include "test_support.h"

#include "result_fixtures.h"

#include "expected_catalogue.h"

#include "app_state.h"
#include "boxes.h"
#include "core_tables.h"
#include "dates.h"
#include "investigations.h"
#include "lab_reports.h"
#include "list_panel.h"
#include "menu_regions.h"
#include "normal_ranges.h"
#include "report_engine.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "start.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>

class TestResultScreens : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    std::unique_ptr<CallAnswers> calls_;
    PrintLog prints_;
    QPointer<TestScreen> screen_;

    const TestDefinition& def() { return screen_->test(); }
    QLineEdit* line(const char* name) { return screen_->findChild<QLineEdit*>(name); }
    QPushButton* button(const char* name) { return screen_->findChild<QPushButton*>(name); }
    QComboBox* doctor() { return screen_->findChild<QComboBox*>("text2"); }
    QWidget* box(int i) { return screen_->result_box(i); }
    QString text(int i) { return box_text(box(i)); }

    void open(const TestDefinition& t, Kind kind = Kind::New) {
        app_state().register_on_save = kind != Kind::Old;
        app_state().mark_temporary = kind == Kind::WalkIn;
        screen_ = qobject_cast<TestScreen*>(screens::open(QString::fromLatin1(t.investigation->screen)));
        QVERIFY(screen_);
        show_active(screen_);
    }
    // A new report with the patient's name and one result in box 0.
    void fill(const QString& name = "Asha D'Souza") {
        line("p_name")->setText(name);
        set_box_text(box(0), result_value(def()));
    }
    void look_up(const QString& lab_id) {
        screen_->show_mode();
        QTest::keyClicks(line("lab_id"), lab_id);
        QTest::keyClick(line("lab_id"), Qt::Key_Tab);
        settle();
    }
    // The workflow is tested over all twelve definitions on its own class;
    // through the widgets, three screens of different build stand for them:
    // unit texts and flags, pages, and multi-line boxes with templates.
    static void screen_rows() {
        QTest::addColumn<int>("test");
        for (int i = 0; i < int(test_catalogue().size()); ++i) {
            const Investigation* row = test_catalogue()[i]->investigation;
            if (row == &catalogue::kRoutineHaemotology || row == &catalogue::kBiochemistryReport ||
                row == &catalogue::kPeripheralBloodSmear)
                QTest::newRow(row->test) << i;
        }
    }
    const TestDefinition& fetched() {
        QFETCH(int, test);
        return *test_catalogue()[test];
    }

private slots:
    void initTestCase() {
        install_screens();
        prints_.record();
    }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        calls_ = std::make_unique<CallAnswers>();
        prints_.clear();
        set_today_for_tests({});
    }
    void cleanup() {
        close_screens();
        calls_.reset();
        messages_.reset();
        folder_.reset();
        set_today_for_tests({});
    }

    void catalogue_agrees_with_schema_menu_and_report_files();
    void catalogue_holds_the_laboratorys_own_texts_data();
    void catalogue_holds_the_laboratorys_own_texts();
    void opens_with_fresh_ids_data() { screen_rows(); }
    void opens_with_fresh_ids();
    void save_stores_the_report_once_data() { screen_rows(); }
    void save_stores_the_report_once();
    void nothing_is_written_without_name_or_results_data() { screen_rows(); }
    void nothing_is_written_without_name_or_results();
    void length_rule_at_the_limit_data() { catalogue_rows(); }
    void length_rule_at_the_limit();
    void a_lost_race_keeps_the_typed_report_data() { screen_rows(); }
    void a_lost_race_keeps_the_typed_report();
    void a_report_goes_only_to_the_patient_on_screen_data() { screen_rows(); }
    void a_report_goes_only_to_the_patient_on_screen();
    void look_up_and_modify_data() { screen_rows(); }
    void look_up_and_modify();
    void alt_s_saves_from_any_box_data() { catalogue_rows(); }
    void alt_s_saves_from_any_box();
    void every_control_is_named_and_reachable_data() { catalogue_rows(); }
    void every_control_is_named_and_reachable();
    void the_call_dialog_reads_its_finding();

    void patient_kinds_write_their_rows();
    void a_failed_modify_changes_nothing();
    void modify_keeps_what_the_screen_could_not_show();
    void another_tests_lab_id_and_missing_ids();
    void patient_lookup_in_old_patient_mode();
    void a_screen_closed_under_its_message_closes_after_it();
    void doctor_with_an_apostrophe_is_stored_once();
    void show_all_lists_the_test_and_holds_no_lock();
    void failed_print_is_reported_and_the_report_stays();
    void enter_presses_a_focused_button();
    void unit_texts_count_as_empty_data();
    void unit_texts_count_as_empty();
    void typing_goes_in_front_of_the_unit();
    void biochemistry_pages();
    void smear_templates_and_four_rows();
    void stool_and_culture_layouts();
};

void TestResultScreens::catalogue_agrees_with_schema_menu_and_report_files() {
    QCOMPARE(int(test_catalogue().size()), 12);
    QCOMPARE(int(std::size(catalogue::kAll)), 12);
    QSet<QString> tables;
    for (int i = 0; i < 12; ++i) {
        const Investigation& row = *catalogue::kAll[i];
        const TestDefinition& t = *test_catalogue()[i];
        QCOMPARE(t.investigation, &row); // one definition per row, in the menu's order
        QCOMPARE(&definition_of(row), &t);
        QCOMPARE(QString::fromLatin1(kTestRegions[i].screen), QString::fromLatin1(row.screen));
        // One lookup per key, each finding the row however the key is spelt.
        QCOMPARE(catalogue::by_table(QString(row.table).toUpper()), &row);
        QCOMPARE(catalogue::by_test(QString::fromUtf8(row.test).toLower()), &row);
        QCOMPARE(catalogue::by_test(QString::fromLatin1(row.consolidated_name)), &row);
        QCOMPARE(catalogue::by_screen(row.screen), &row);
        QCOMPARE(test_for_screen(row.screen), &t);
        // The names agree with one another as the stored data expects.
        QCOMPARE(QString::fromLatin1(row.consolidated_name), QString::fromUtf8(row.test).replace(' ', '_'));
        QVERIFY(QString::fromLatin1(row.table).compare(row.consolidated_name, Qt::CaseInsensitive) == 0);
        QVERIFY(QString::fromUtf8(row.list).compare(row.test, Qt::CaseInsensitive) == 0);
        QCOMPARE(row.prints_separately,
                 &row == &catalogue::kCulture || &row == &catalogue::kPeripheralBloodSmear);
        QVERIFY(select_rows(QString("select * from %1").arg(row.table)).ok()); // spelled as the schema
        for (const char* file : {row.report_file, row.header_report_file})
            QVERIFY2(QFile::exists(QString(REPORT_FILES_DIR) + "/" + QString(file).mid(1)), file);
        QVERIFY(t.box_count <= int(t.items.size()) && t.lookup_count <= int(t.items.size()));
        QVERIFY(std::find_if(t.empty_texts.begin(), t.empty_texts.end(),
                             [](const char* e) { return *e == 0; }) != t.empty_texts.end());
        tables << QString(row.table).toLower();
    }
    QCOMPARE(tables.size(), 12);
    QCOMPARE(catalogue::by_table("registration"), nullptr);
    QCOMPARE(catalogue::by_test("Blood sugar"), nullptr);
    // Every normal range belongs to exactly one item of its test's screen.
    for (const ItemRange& r : normal_ranges()) {
        int items = 0;
        for (const ResultItem& item : definition_of(*r.test).items)
            items += QString::fromUtf8(item.caption).trimmed() == QString::fromUtf8(r.item).trimmed();
        QVERIFY2(items == 1, r.item);
        QCOMPARE(normal_range(*r.test, r.item), &r.range);
    }
}

void TestResultScreens::catalogue_holds_the_laboratorys_own_texts_data() {
    QTest::addColumn<int>("expected");
    for (int i = 0; i < int(kExpectedTests.size()); ++i)
        QTest::newRow(kExpectedTests[i].caption) << i;
}

void TestResultScreens::catalogue_holds_the_laboratorys_own_texts() {
    QFETCH(int, expected);
    const ExpectedTest& e = kExpectedTests[expected];
    const TestDefinition* found = nullptr;
    for (const TestDefinition* t : test_catalogue())
        if (QString::fromUtf8(t->investigation->test) == QString::fromUtf8(e.caption)) found = t;
    QVERIFY2(found, e.caption);
    const TestDefinition& t = *found;
    QCOMPARE(t.box_count, e.box_count);
    QCOMPARE(t.lookup_count, e.lookup_count);
    QCOMPARE(t.max_length, e.max_length);
    QCOMPARE(QString::fromLatin1(t.investigation->report_file), QString::fromLatin1(e.report_file));
    QCOMPARE(QString::fromLatin1(t.investigation->header_report_file),
             QString::fromLatin1(e.header_report_file));
    QVERIFY(t.items.size() >= e.items.size());
    for (std::size_t i = 0; i < e.items.size(); ++i) {
        QCOMPARE(QString::fromUtf8(t.items[i].caption), QString::fromUtf8(e.items[i].caption));
        if (e.items[i].unit)
            QCOMPARE(QString::fromUtf8(t.items[i].initial_text), QString::fromUtf8(e.items[i].unit));
    }
}

void TestResultScreens::opens_with_fresh_ids() {
    const TestDefinition& t = fetched();
    QVERIFY(add_patient(kStaff, minimal_patient(41, "Old", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt, {7, 41, "", "", "Serology", "", "N"}, "Serology", {}}).ok());
    QVERIFY(add_row("doctors", {{"name", "Dr. Rao"}}).ok());
    QVERIFY(add_row("doctors", {{"name", "Dr. Iyer"}}).ok());
    for (Kind kind : {Kind::New, Kind::Old}) {
        open(t, kind);
        QCOMPARE(line("lab_id")->text(), QString("8"));
        QVERIFY(!line("lab_id")->isEnabled());
        QCOMPARE(line("patient_id")->text(), kind == Kind::New ? QString("42") : QString());
        QCOMPARE(line("patient_id")->isEnabled(), kind == Kind::Old);
        QCOMPARE(QApplication::focusWidget(), kind == Kind::Old ? line("patient_id") : line("p_name"));
        QCOMPARE(line("Text5")->text(), display_date(today()));
        QVERIFY(!line("Text5")->isEnabled());
        QCOMPARE(line("Text4")->text(), QString("-"));
        QCOMPARE(line("Text3")->text(), QString("-"));
        QCOMPARE(doctor()->count(), 2);
        QCOMPARE(doctor()->currentText(), QString("Dr. Rao"));
        QVERIFY(button("cmdAdd")->isEnabled());
        QVERIFY(!button("cmdModify")->isEnabled());
        QVERIFY(!screen_->findChild<QWidget*>("Frame5")->isVisible());
        for (int i = 0; i < int(t.items.size()); ++i)
            QCOMPARE(text(i), QString::fromUtf8(t.items[i].initial_text));
        close_screens();
    }
    QVERIFY(messages_->shown.isEmpty());
}

void TestResultScreens::save_stores_the_report_once() {
    const TestDefinition& t = fetched();
    open(t, Kind::WalkIn);
    fill();
    doctor()->setEditText("Dr. New");
    prints_.seen = [] { return doctor_stored("Dr. New"); };
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QVERIFY(!button("cmdAdd")->isEnabled());

    auto report = find_report(1);
    QVERIFY(report.value);
    QCOMPARE(report.value->patient_id.toInt(), 1);
    QCOMPARE(report.value->test, QString::fromUtf8(t.investigation->test));
    QCOMPARE(report.value->t_date, today_iso());
    QCOMPARE(report.value->temp_patient, QString("Y"));
    QCOMPARE(report.value->ref_by, QString("Dr. New"));
    QCOMPARE(find_patient(1).value->patient_name, QString("Asha D'Souza"));
    const auto rows = report_results(t.investigation->table, 1).value;
    QCOMPARE(rows.size(), t.store_every_box ? t.box_count : 1);
    QCOMPARE(rows[0].item, QString::fromUtf8(t.items[0].caption));
    QCOMPARE(rows[0].result, result_value(t));
    QCOMPARE(number_of("select count(*) from doctors where name = 'Dr. New'"), 1);

    // One print, of this report, on plain paper, before or after the doctor step.
    QCOMPARE(prints_.entries.size(), 1);
    QCOMPARE(prints_.entries[0].request.file_path,
             folder_->path() + QString::fromLatin1(t.investigation->report_file));
    QCOMPARE(prints_.entries[0].request.selection->text(), QString("{test_main.lab_ID} = 1"));
    QCOMPARE(prints_.entries[0].seen.isEmpty(), t.print_before_doctor);

    // Save works once per opening, whatever Clear does; Print follows the letter-head option.
    screen_->clear();
    QVERIFY(!button("cmdAdd")->isEnabled());
    app_state().print_with_header = true;
    line("lab_id")->setText("1");
    screen_->print();
    app_state().print_with_header = false;
    QCOMPARE(prints_.entries.last().request.file_path,
             folder_->path() + QString::fromLatin1(t.investigation->header_report_file));
}

void TestResultScreens::nothing_is_written_without_name_or_results() {
    const TestDefinition& t = fetched();
    open(t);
    set_box_text(box(0), result_value(t));
    screen_->save();
    line("p_name")->setText("Ravi");
    for (int i = 0; i < t.box_count; ++i)
        set_box_text(box(i), "  ");
    screen_->save();
    QCOMPARE(messages_->texts(), (QStringList{t.missing_name_message, t.empty_report_message}));
    for (const char* table : {"registration", "test_main", t.investigation->table})
        QCOMPARE(number_of(QString("select count(*) from %1").arg(table)), 0);
    QVERIFY(button("cmdAdd")->isEnabled());
    QVERIFY(prints_.entries.isEmpty());
}

void TestResultScreens::length_rule_at_the_limit() {
    const TestDefinition& t = fetched();
    open(t);
    const QString longest(t.max_length, 'x');
    set_box_text(box(0), longest);
    QCOMPARE(text(0), longest);
    QVERIFY(messages_->shown.isEmpty());
    if (t.multi_line_boxes) {
        set_box_text(box(0), longest + "y");
    } else {
        auto* b = qobject_cast<QLineEdit*>(box(0));
        b->setFocus();
        b->end(false);
        QTest::keyClick(b, 'y');
    }
    QCOMPARE(text(0), QString());
    QCOMPARE(messages_->shown.size(), 1);
    QCOMPARE(messages_->shown[0].text, QString("Data is too long."));
    QCOMPARE(messages_->shown[0].title, QString("Information"));
}

void TestResultScreens::a_lost_race_keeps_the_typed_report() {
    const TestDefinition& t = fetched();
    open(t, Kind::New);
    fill("Meera");
    screen_->findChild<QTextEdit*>("rtb")->setPlainText("repeat sample");
    // Another workstation saves first, under the same patient and lab ids.
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("insert into registration (patient_id, patient_name) values (1, 'Other')"));
    QVERIFY(other.exec("insert into test_main (lab_id, patient_id, test) values (1, 1, 'Serology')"));
    screen_->save();
    QStringList expected{"ID already exists."};
    if (t.show_save_errors) expected = QStringList{"1555", messages_->texts().value(1), "ID already exists."};
    QCOMPARE(messages_->texts(), expected);
    if (t.show_save_errors) QVERIFY(messages_->texts()[1].contains("UNIQUE"));
    QCOMPARE(number_of("select count(*) from registration"), 1); // nothing of ours, not even the patient
    QCOMPARE(number_of(QString("select count(*) from %1").arg(t.investigation->table)), 0);
    // Fresh ids, everything typed kept: Save again stores it.
    QCOMPARE(line("lab_id")->text(), QString("2"));
    QCOMPARE(line("patient_id")->text(), QString("2"));
    QCOMPARE(text(0), result_value(t));
    QVERIFY(button("cmdAdd")->isEnabled());
    messages_->clear();
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QCOMPARE(find_patient(2).value->patient_name, QString("Meera"));
    QCOMPARE(find_report(2).value->remarks, QString("repeat sample"));
    QCOMPARE(report_results(t.investigation->table, 2).value.value(0).result, result_value(t));
}

void TestResultScreens::look_up_and_modify() {
    const TestDefinition& t = fetched();
    set_today_for_tests(QDate(2026, 12, 8));
    open(t, Kind::New);
    fill("Lata");
    line("Text4")->setText("61");
    screen_->save();
    close_screens();
    set_today_for_tests(QDate(2026, 12, 9));
    messages_->clear();

    open(t, Kind::New);
    look_up("1");
    QVERIFY2(messages_->shown.isEmpty(), qPrintable(messages_->texts().join('|')));
    QVERIFY(button("cmdModify")->isEnabled());
    QCOMPARE(line("p_name")->text(), QString("Lata"));
    QCOMPARE(line("Text4")->text(), QString("61"));
    QCOMPARE(line("Text5")->text(), display_date(QDate(2026, 12, 8)));
    QCOMPARE(text(0), result_value(t));
    QCOMPARE(QApplication::focusWidget(), line("patient_id"));
    // A reader hears the sign-off line itself, its caption as the description.
    const QLabel* sign_off_line = screen_->findChild<QLabel*>("sign_off");
    QAccessibleInterface* sign_off =
        QAccessible::queryAccessibleInterface(const_cast<QLabel*>(sign_off_line));
    QVERIFY(!sign_off_line->text().isEmpty());
    QCOMPARE(sign_off->text(QAccessible::Name), sign_off_line->text());
    QCOMPARE(sign_off->text(QAccessible::Description), QString("Sign-off"));

    const int second = t.box_count > 1 && !t.items[1].disabled ? 1 : 0;
    const QString nine = plain_result(t, second, "9");
    set_box_text(box(second), nine);
    screen_->modify();
    QCOMPARE(messages_->texts(), QStringList{"Report has been modified"});
    const auto rows = report_results(t.investigation->table, 1).value;
    QStringList stored;
    for (const ResultRow& r : rows)
        stored << r.result;
    QVERIFY2(stored.contains(nine), qPrintable(stored.join('|')));
    QCOMPARE(stored.contains(result_value(t)), second == 1);
    QCOMPARE(find_report(1).value->t_date, QString("2026-12-09"));
    QCOMPARE(find_report(1).value->temp_patient, QString("N"));
    // Modify ends with Clear: fresh locked ids, Modify off.
    QCOMPARE(line("lab_id")->text(), QString("2"));
    QVERIFY(!line("lab_id")->isEnabled());
    QVERIFY(!button("cmdModify")->isEnabled());
}

void TestResultScreens::every_control_is_named_and_reachable() {
    const TestDefinition& t = fetched();
    open(t);
    for (QWidget* w : screen_->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractButton*>(w);
        if (!control || qobject_cast<QLineEdit*>(w->parentWidget())) continue; // the combo's own edit
        // The doctor box's edit field has the focus while a name is typed: named too.
        if (w->parentWidget() && qobject_cast<QComboBox*>(w->parentWidget()) && !qobject_cast<QLineEdit*>(w))
            continue;
        if (w->parentWidget() && qobject_cast<QTableView*>(w->parentWidget())) continue; // the grid's corner
        QVERIFY2(!w->accessibleName().isEmpty(), w->metaObject()->className());
    }
    // Tab walks the patient fields, then the result boxes in index order, then the remarks.
    line("p_name")->setFocus();
    QList<QWidget*> walked;
    auto* rtb = screen_->findChild<QTextEdit*>("rtb");
    for (int i = 0; i < 8 + int(t.items.size()) && QApplication::focusWidget() != rtb; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget();
    }
    QCOMPARE(walked[0], line("Text4"));
    QCOMPARE(walked[1], line("Text3"));
    QVERIFY(walked[2] == doctor() || walked[2]->parentWidget() == doctor());
    QCOMPARE(walked[3], box(0));
    int last = -1;
    for (QWidget* w : walked)
        for (int i = 0; i < int(t.items.size()); ++i)
            if (w == box(i)) {
                QVERIFY2(i > last || i == 0, qPrintable(w->objectName()));
                last = std::max(last, i);
            }
    QCOMPARE(walked.last(), rtb);
    QTest::keyClick(rtb, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button("cmdAdd"));
    QVERIFY(rtb->toPlainText().indexOf('\t') < 0);
    for (const char* b : {"cmdAdd", "cmdPrint", "cmdClose"})
        QVERIFY(button(b)->text().contains('&'));
}

// The critical-call dialog, as a reader meets it: the finding is what its
// text says (its caption the description), and every box is named.
void TestResultScreens::the_call_dialog_reads_its_finding() {
    calls_.reset(); // the real dialog, not the fixture's answers
    use_critical_call_dialog();
    const QString finding =
        "Critical value: Potassium 6.8 (critical above 6.2). Inform the referring doctor now.";
    QString name, description;
    QStringList boxes;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        for (QLabel* l : dialog->findChildren<QLabel*>())
            if (l->text() == finding) {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(l);
                name = a->text(QAccessible::Name);
                description = a->text(QAccessible::Description);
            }
        for (QWidget* w : dialog->findChildren<QLineEdit*>())
            if (!qobject_cast<QAbstractSpinBox*>(w->parentWidget())) boxes << w->accessibleName();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QVERIFY(!ask_critical_call({finding, "tamor", "Dr. Iyer", QDateTime::currentDateTime()}));
    set_critical_call_dialog(nullptr);
    QCOMPARE(name, finding);
    QCOMPARE(description, QString("Critical results"));
    QVERIFY2(!boxes.isEmpty() && !boxes.contains(QString()), qPrintable(boxes.join('|')));
}

void TestResultScreens::alt_s_saves_from_any_box() {
    const TestDefinition& t = fetched();
    open(t);
    fill();
    // From the last result box, as a technician ends a report.
    QWidget* last = box(t.box_count - 1);
    last->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    // The key presses the button as a click shown on it (a tenth of a second).
    QTRY_COMPARE(messages_->texts().value(0), QString("New report added"));
    QCOMPARE(number_of("select count(*) from test_main"), 1);
}

void TestResultScreens::patient_kinds_write_their_rows() {
    const struct {
        Kind kind;
        MessageAnswer temporary; // the menu's question, for old patients
        int registrations;
        const char* temp;
    } cases[] = {{Kind::New, MessageAnswer::No, 1, "N"},
                 {Kind::WalkIn, MessageAnswer::No, 1, "Y"},
                 {Kind::Old, MessageAnswer::Yes, 0, "Y"},
                 {Kind::Old, MessageAnswer::No, 0, "N"}};
    for (const auto& c : cases) {
        for (const char* table : {"registration", "test_main", "Serology", "change_log"}) // a fresh file
            QVERIFY(execute(QString("delete from %1").arg(table)).ok());
        if (c.kind == Kind::Old) QVERIFY(add_patient(kStaff, minimal_patient(5, "Kiran", "", "")).ok());
        open(*test_for_screen("Serology"), c.kind);
        if (c.kind == Kind::Old) {
            app_state().mark_temporary = c.temporary == MessageAnswer::Yes;
            line("patient_id")->setText("5");
        }
        fill("Kiran");
        screen_->save();
        QCOMPARE(number_of("select count(*) from registration"), c.kind == Kind::Old ? 1 : c.registrations);
        QCOMPARE(find_report(1).value->temp_patient, QString(c.temp));
        QCOMPARE(find_report(1).value->patient_id.toInt(), c.kind == Kind::Old ? 5 : 1);
        if (c.registrations) {
            const Patient p = *find_patient(1).value;
            QCOMPARE(p.patient_name, QString("Kiran"));
            QCOMPARE(p.emailid, QString("_"));
            for (const QString& v :
                 {p.phone, p.mobile, p.occupation, p.next_of_kin, p.address, p.brief_history})
                QCOMPARE(v, QString("-"));
            QCOMPARE(p.reg_date, today_iso());
        }
        close_screens();
    }
}

void TestResultScreens::a_failed_modify_changes_nothing() {
    if (testing_on_server()) QSKIP("the failure is made with a trigger in the file's own SQL");
    open(*test_for_screen("Blood_sugar_report"));
    fill();
    set_box_text(box(1), "140");
    screen_->save();
    close_screens();
    open(*test_for_screen("Blood_sugar_report"));
    look_up("1");
    set_box_text(box(1), "boom");
    doctor()->setEditText("Dr. Changed");
    // The last insert of modify fails: the header update and the deletion go back too.
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("create trigger refuse before insert on blood_sugar_report when new.result = 'boom' "
                       "begin select raise(abort, 'refused'); end"));
    messages_->clear();
    screen_->modify();
    QCOMPARE(messages_->shown.size(), 1);
    QVERIFY(messages_->texts()[0].startsWith("Storing the changes failed."));
    QCOMPARE(find_report(1).value->ref_by, QString());
    const auto rows = report_results("blood_sugar_report", 1).value;
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].result, QString("140"));
    QVERIFY(button("cmdModify")->isEnabled()); // still on the report, nothing lost
}

void TestResultScreens::modify_keeps_what_the_screen_could_not_show() {
    QVERIFY(add_patient(kStaff, minimal_patient(3, "Noor", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt,
                                 {5, 3, "", "", "Blood sugar report", "", "N"},
                                 "blood_sugar_report",
                                 {{0, "Fasting blood glucose (N :60 - 100 mg/dl)", QString(25, '1')},
                                  {0, "Random urine sugar", "Nil"},
                                  {0, "An item of an older layout", "kept"},
                                  {0, "Fasting urine sugar", "Trace"}}})
                .ok());
    open(*test_for_screen("Blood_sugar_report"));
    look_up("5");
    // Too long for its box: reported and emptied; the rows after the unknown caption are not shown.
    QCOMPARE(messages_->texts(), QStringList{"Data is too long."});
    QCOMPARE(text(0), QString());
    QCOMPARE(text(5), QString("Nil"));
    QCOMPARE(text(3), QString());
    set_box_text(box(5), "Absent");
    messages_->clear();
    screen_->modify();
    QCOMPARE(messages_->shown.size(), 2);
    QCOMPARE(messages_->texts()[0], QString("Report has been modified"));
    QVERIFY(messages_->texts()[1].startsWith("3 stored result(s)"));
    QStringList stored;
    for (const ResultRow& r : report_results("blood_sugar_report", 5).value)
        stored << r.item.left(12) + "=" + r.result.left(3);
    stored.sort();
    QCOMPARE(stored,
             (QStringList{"An item of a=kep", "Fasting bloo=111", "Fasting urin=Tra", "Random urine=Abs"}));
}

void TestResultScreens::another_tests_lab_id_and_missing_ids() {
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Ravi", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt, {12, 1, "", "", "Serology", "", "N"}, "Serology", {}}).ok());
    open(*test_for_screen("widal_test"));
    look_up("12");
    look_up("77");
    screen_->show_mode();
    screen_->findChild<QPushButton*>("cmdClear")->setFocus(); // leaves the empty lab id
    settle();
    QCOMPARE(messages_->texts(),
             (QStringList{"lab Id 12 is in Serology", "Lab ID does not exist", "No ID given"}));
    QVERIFY(!line("lab_id")->isEnabled());
    QCOMPARE(line("lab_id")->text(), QString("13"));
    QVERIFY(!button("cmdModify")->isEnabled());
}

void TestResultScreens::a_report_goes_only_to_the_patient_on_screen() {
    const TestDefinition& t = fetched();
    QVERIFY(add_patient(kStaff, minimal_patient(7, "Farah", "44", "F")).ok());
    QVERIFY(add_patient(kStaff, minimal_patient(8, "Other", "", "")).ok());
    open(t, Kind::Old);
    QTest::keyClicks(line("patient_id"), "7");
    QTest::keyClick(line("patient_id"), Qt::Key_Tab);
    QCOMPARE(line("p_name")->text(), QString("Farah"));
    set_box_text(box(0), result_value(t));
    // Back into the box, emptied, Save pressed without leaving the box: no look-up has run.
    line("patient_id")->setFocus();
    line("patient_id")->clear();
    button("cmdAdd")->click(); // as its Alt key presses it: the focus stays in the box
    // Another patient's number, or one that is no number, with Farah's name still shown.
    for (const char* typed : {"8", "7x", " "}) {
        line("patient_id")->setText(typed);
        screen_->save();
    }
    QCOMPARE(messages_->texts(), QStringList(4, "Patient ID does not exist"));
    QCOMPARE(number_of("select count(*) from test_main"), 0);
    QCOMPARE(number_of(QString("select count(*) from %1").arg(t.investigation->table)), 0);
    QVERIFY(button("cmdAdd")->isEnabled());
    QCOMPARE(text(0), result_value(t)); // nothing typed is lost
    QCOMPARE(QApplication::focusWidget(), line("patient_id"));
    line("patient_id")->setText("7");
    messages_->clear();
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"New report added"});
    QCOMPARE(find_report(1).value->patient_id.toInt(), 7);
    // Modify holds to the same rule.
    look_up("1");
    line("patient_id")->setText("8");
    messages_->clear();
    screen_->modify();
    QCOMPARE(messages_->texts(), QStringList{"Patient ID does not exist"});
    QCOMPARE(find_report(1).value->patient_id.toInt(), 7);
    QCOMPARE(number_of("select count(*) from change_log where action = 'modify'"), 0);
}

void TestResultScreens::patient_lookup_in_old_patient_mode() {
    QVERIFY(add_patient(kStaff, minimal_patient(9, "Farah", "44", "F")).ok());
    open(*test_for_screen("RBC_indices"), Kind::Old);
    QTest::keyClicks(line("patient_id"), "9");
    QTest::keyClick(line("patient_id"), Qt::Key_Tab);
    QCOMPARE(line("p_name")->text(), QString("Farah"));
    QCOMPARE(line("Text4")->text(), QString("44"));
    QCOMPARE(line("Text3")->text(), QString("F"));
    line("patient_id")->setFocus();
    line("patient_id")->setText("10");
    QTest::keyClick(line("patient_id"), Qt::Key_Tab);
    QCOMPARE(messages_->texts(), QStringList{"Patient ID does not exist"});
    QCOMPARE(line("p_name")->text(), QString());
    QCOMPARE(line("Text4")->text(), QString("-"));
    QCOMPARE(line("patient_id")->text(), QString());
    QCOMPARE(QApplication::focusWidget(), line("patient_id"));
}

void TestResultScreens::a_screen_closed_under_its_message_closes_after_it() {
    open(*test_for_screen("Serology"), Kind::Old);
    // While the look-up's box is up, the window manager closes the screen:
    // the close arrives in the box's own event loop, as it does on a desktop.
    QStringList shown;
    const MessageHandler recorder = set_message_handler([&](const ShownMessage& m) {
        shown << m.text;
        QEventLoop box;
        QTimer::singleShot(0, screen_, &QWidget::close);
        QTimer::singleShot(20, &box, &QEventLoop::quit);
        box.exec();
        return MessageAnswer::Ok;
    });
    QTest::keyClicks(line("patient_id"), "99");
    QTest::keyClick(line("patient_id"), Qt::Key_Tab);
    set_message_handler(recorder);
    QCOMPARE(shown, QStringList{"Patient ID does not exist"});
    QVERIFY(screen_); // the look-up finished on a screen that was still there
    QCOMPARE(line("patient_id")->text(), QString());
    QTRY_VERIFY(!screen_); // and the close was done after the box
}

void TestResultScreens::doctor_with_an_apostrophe_is_stored_once() {
    QVERIFY(add_row("doctors", {{"name", "Dr. D'Souza"}}).ok());
    for (int n = 0; n < 2; ++n) {
        open(*test_for_screen("Thyroid_hormone_profile"));
        fill();
        QCOMPARE(doctor()->currentText(), QString("Dr. D'Souza"));
        doctor()->setEditText(n == 0 ? "Dr. D'Souza" : "Dr. O'Brien; drop table doctors");
        screen_->save();
        close_screens();
    }
    QCOMPARE(doctor_names().value, (QStringList{"Dr. D'Souza", "Dr. O'Brien; drop table doctors"}));
    QCOMPARE(find_report(2).value->ref_by, QString("Dr. O'Brien; drop table doctors"));
}

void TestResultScreens::show_all_lists_the_test_and_holds_no_lock() {
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Ravi", "", "")).ok());
    for (int lab = 1; lab <= 3; ++lab)
        QVERIFY(save_report(kStaff, {std::nullopt,
                                     {lab, 1, "", "", lab == 2 ? "Serology" : "Prothrombin time", "", "N"},
                                     "prothrombin_time",
                                     {}})
                    .ok());
    open(*test_for_screen("prothrombin_time"));
    screen_->show_all();
    auto* frame = screen_->findChild<QWidget*>("Frame5");
    auto* grid = screen_->findChild<QTableView*>("DataGrid11");
    QVERIFY(frame->isVisible());
    QCOMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QString("lab_id"));
    QCOMPARE(grid->model()->index(1, 0).data().toString(), QString("3"));
    QVERIFY(grid->isColumnHidden(4));
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    const QSqlDatabase other = folder_->other_workstation();
    const DbError taken = take_write_lock_at_once(other);
    QVERIFY2(taken.ok(), qPrintable(taken.description));
    QVERIFY(QSqlQuery(other).exec("ROLLBACK"));
    QTest::mouseClick(screen_->findChild<QPushButton*>("Command5"), Qt::LeftButton);
    QVERIFY(!frame->isVisible());
    QCOMPARE(grid->model()->rowCount(), 0); // the list's memory is given back
}

void TestResultScreens::failed_print_is_reported_and_the_report_stays() {
    open(*test_for_screen("Thyroid_hormone_profile")); // prints before the doctor step
    fill();
    doctor()->setEditText("Dr. Print");
    prints_.failure = "The report file \"x.rpt\" cannot be read.";
    screen_->save();
    QCOMPARE(messages_->texts(),
             (QStringList{"New report added", "The report could not be printed. " + prints_.failure}));
    QVERIFY(find_report(1).value);
    QCOMPARE(number_of("select count(*) from doctors"), 0); // the doctor step did not run
    QVERIFY(!button("cmdAdd")->isEnabled());                // stored once: never a second copy
}

void TestResultScreens::enter_presses_a_focused_button() {
    open(*test_for_screen("Serology"));
    fill();
    button("cmdAdd")->setFocus();
    QTest::keyClick(button("cmdAdd"), Qt::Key_Return);
    QTRY_COMPARE(messages_->texts(), QStringList{"New report added"});
}

void TestResultScreens::unit_texts_count_as_empty_data() {
    QTest::addColumn<QString>("screen");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("stored");
    QTest::newRow("haemoglobin unit") << "Routine_haemotology" << 0 << " gm/dl" << false;
    QTest::newRow("mm with blanks") << "Routine_haemotology" << 12 << "  mm  " << false;
    QTest::newRow("percent in the ESR box") << "Routine_haemotology" << 12 << "%" << false;
    QTest::newRow("unit in capitals") << "Routine_haemotology" << 0 << " GM/DL" << true;
    QTest::newRow("mm and a full stop") << "Routine_haemotology" << 12 << "mm." << true;
    QTest::newRow("value before unit") << "Routine_haemotology" << 0 << "12 gm/dl" << true;
    QTest::newRow("hpf") << "Urinalysis" << 9 << " /hpf " << false;
    QTest::newRow("HPF") << "Urinalysis" << 9 << "/HPF" << true;
    QTest::newRow("count before hpf") << "Urinalysis" << 9 << "4-6 /hpf" << true;
    QTest::newRow("biochemistry mg/dl") << "biochemistry_report" << 14 << " mg/dl" << false;
    QTest::newRow("biochemistry mg/dL") << "biochemistry_report" << 0 << " mg/dL" << true;
    QTest::newRow("blank box 38") << "biochemistry_report" << 38 << "x" << true;
    QTest::newRow("box 39 never counts") << "biochemistry_report" << 39 << "x" << false;
    QTest::newRow("blood sugar unit is a result") << "Blood_sugar_report" << 0 << "mg/dl" << true;
}

void TestResultScreens::unit_texts_count_as_empty() {
    QFETCH(QString, screen);
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(bool, stored);
    const TestDefinition& t = *test_for_screen(screen);
    open(t);
    line("p_name")->setText("Usha");
    // Opened untouched, every box shows only its unit or a blank: the report is empty.
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"The report is empty"});
    messages_->clear();
    set_box_text(box(index), typed);
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{stored ? "New report added" : "The report is empty"});
    if (stored) {
        const auto rows = report_results(t.investigation->table, 1).value;
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].item, QString::fromUtf8(t.items[index].caption));
        QCOMPARE(rows[0].result, typed); // untrimmed, unit included
    }
}

void TestResultScreens::typing_goes_in_front_of_the_unit() {
    open(*test_for_screen("Routine_haemotology"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // Age
    line("Text4")->setFocus();
    for (int i = 0; i < 3; ++i) // Age, Sex, Ref. by Dr. -> box 0
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box(0));
    settle();
    QTest::keyClicks(box(0), "12");
    QCOMPARE(text(0), QString("12 gm/dl"));
    // After Clear the units are gone for good.
    screen_->clear();
    for (int i = 0; i < 22; ++i)
        QCOMPARE(text(i), QString());
}

void TestResultScreens::biochemistry_pages() {
    open(*test_for_screen("biochemistry_report"));
    auto* page1 = screen_->findChild<QGroupBox*>("Frame2");
    auto* page2 = screen_->findChild<QGroupBox*>("Frame3");
    QVERIFY(page1->isVisible() && !page2->isVisible());
    QVERIFY(page2->title().startsWith("--------- Liver Function Test(LFT) -----"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QVERIFY(!page1->isVisible() && page2->isVisible());
    QCOMPARE(QApplication::focusWidget(), box(20));
    QCOMPARE(button("Command1")->accessibleName(), QString("Next page"));
    QCOMPARE(button("Command2")->accessibleName(), QString("Previous page"));
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"Patient name not given"});
    screen_->clear(); // back to page 1; boxes 0 to 38 emptied, box 39 keeps its blank
    QVERIFY(page1->isVisible() && !page2->isVisible());
    QCOMPARE(text(38), QString());
    QCOMPARE(text(39), QString(" "));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), button("Command1"));
    // A stored row with a blank item is shown in box 38.
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Ravi", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt,
                                 {50, 1, "", "", "Biochemistry report", "", "N"},
                                 "biochemistry_report",
                                 {{0, "  ", "blank row"}, {0, "Gamma GT (N : 5 - 47 IU/L)", "30 IU/L"}}})
                .ok());
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    look_up("50");
    QVERIFY(page1->isVisible());
    QCOMPARE(text(38), QString("blank row"));
    QCOMPARE(text(29), QString("30 IU/L"));
}

void TestResultScreens::smear_templates_and_four_rows() {
    const TestDefinition& t = *test_for_screen("Peripheral_blood_smear");
    open(t);
    QCOMPARE(button("Command1")->accessibleName(), QString("Next template"));
    QCOMPARE(button("Command2")->accessibleName(), QString("Previous template"));
    set_box_text(box(0), "edited");
    button("Command2")->click(); // nothing before template 1
    QCOMPARE(screen_->template_no(), 1);
    QCOMPARE(text(0), QString("edited"));
    for (int n = 2; n <= 9; ++n) {
        button("Command1")->click();
        QCOMPARE(screen_->template_no(), n);
        QCOMPARE(text(3), QString::fromUtf8(t.templates[n - 1].texts[3]));
    }
    set_box_text(box(3), "my impression");
    button("Command1")->click(); // no wrap-around
    QCOMPARE(screen_->template_no(), 9);
    QCOMPARE(text(3), QString("my impression"));
    QCOMPARE(text(0).size(), 120);

    line("p_name")->setText("Anil");
    for (int i = 0; i < 4; ++i)
        set_box_text(box(i), " ");
    screen_->save();
    QCOMPARE(messages_->texts(), QStringList{"Important data not given"});
    set_box_text(box(3), "Impression only");
    screen_->save();
    const auto rows = report_results(t.investigation->table, 1).value;
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].result, QString(" "));
    QCOMPARE(rows[3].result, QString("Impression only"));
    screen_->clear(); // the findings and the template number stay
    QCOMPARE(text(3), QString("Impression only"));
    QCOMPARE(screen_->template_no(), 9);

    screen_->show_all();
    auto* image = screen_->findChild<QPushButton*>("Image1");
    QVERIFY(image && image->isVisible());
    image->click();
    QVERIFY(!screen_->findChild<QWidget*>("Frame5")->isVisible());
}

void TestResultScreens::stool_and_culture_layouts() {
    open(*test_for_screen("stool_routine"));
    QVERIFY(!box(7)->isEnabled());
    QCOMPARE(screen_->findChild<QLabel*>("Label1(7)")->text(), QString(" "));
    close_screens();

    const TestDefinition& culture = *test_for_screen("culture_and_antibiotic_sensitivity_pattern");
    open(culture);
    QVERIFY(!box(31)->isEnabled());
    QCOMPARE(screen_->findChild<QLabel*>("Label7")->text(), QString("R : Resistant       S : Sensitive"));
    QVERIFY(box(0)->minimumWidth() > box(4)->minimumWidth()); // specimen boxes are wide
    line("p_name")->setText("Kavya");
    set_box_text(box(0), "Urine");
    set_box_text(box(4), "S");
    screen_->save();
    const auto rows = report_results(culture.investigation->table, 1).value;
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].item, QString("Material"));
    QCOMPARE(rows[1].item, QString("AMIKACIN"));
    QCOMPARE(screen_->findChild<QLabel*>("Label1(2)")->text(),
             QString("Culture yields : Growth :     Heavy/medium/few colonies"));
}

TAVORA_TEST_MAIN(TestResultScreens)
#include "test_result_screens.moc"
