// The utility screen: deleting a temporary report, the letter-head option,
// the consolidated report and the backup.
#include "test_support.h"

#include "app_state.h"
#include "backup.h"
#include "connection.h"
#include "core_tables.h"
#include "database_copy.h"
#include "dates.h"
#include "definition.h"
#include "investigations.h"
#include "lab_reports.h"
#include "list_panel.h"
#include "prepared_report.h"
#include "report_engine.h"
#include "report_layout.h"
#include "screen_registry.h"
#include "start.h"
#include "utility_screen.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>

namespace {

void seed(int lab, int patient, const QString& test, const QString& date, const QString& temp,
          const QList<ResultRow>& results) {
    QString table = test;
    table.replace(' ', '_');
    if (!find_patient(patient).value)
        QVERIFY(add_patient(kStaff, minimal_patient(patient, "Asha D'Souza", "34", "F")).ok());
    QVERIFY(add_row("test_main", {{"lab_id", lab},
                                  {"patient_id", patient},
                                  {"t_date", date},
                                  {"test", test},
                                  {"temp_patient", temp}})
                .ok());
    for (const ResultRow& r : results)
        QVERIFY(add_row(catalogue::by_table(table)->table,
                        {{"lab_id", lab}, {"item", r.item}, {"result", r.result}})
                    .ok());
}

// How many rows `table` holds in the database file at `path` (a backup's
// copy), read through a connection of its own; -1 when it cannot be read.
int rows_in(const QString& path, const char* table) {
    int rows = -1;
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase("QSQLITE", "copy");
        copy.setDatabaseName(path);
        if (copy.open()) {
            QSqlQuery q(copy);
            if (q.exec(QString("SELECT count(*) FROM %1").arg(table)) && q.next()) rows = q.value(0).toInt();
        }
        copy.close();
    }
    QSqlDatabase::removeDatabase("copy");
    return rows;
}

} // namespace

class TestUtility : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    PrintLog prints_;
    QPointer<UtilityScreen> screen_;
    std::unique_ptr<QTemporaryDir> backup_dir_;
    QString backups() const { return backup_dir_->path(); }

    void open() {
        screen_ = qobject_cast<UtilityScreen*>(screens::open(kUtilityScreen));
        QVERIFY(screen_);
        screen_->set_backup_folder(backups());
        show_active(screen_);
    }
    QPushButton* button(const char* name) { return screen_->findChild<QPushButton*>(name); }
    ListPanel* list() { return screen_->findChild<ListPanel*>("Frame1"); }
    void consolidate(const QString& typed) {
        button("Command3")->click();
        screen_->findChild<QLineEdit*>("Text1")->setText(typed);
        button("Command4")->click();
    }

private slots:
    void initTestCase() {
        install_screens();
        prints_.record();
    }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        prints_.clear();
        // The rows of temp that the report reads.
        prints_.seen = [] {
            QStringList rows;
            for (const Row& r :
                 select_rows("select test_table, lab_id, item, result from temp order by rowid").value)
                rows << QStringList{r.text(0), r.text(1), r.text(2), r.text(3)}.join('|');
            return rows;
        };
        backup_dir_ = std::make_unique<QTemporaryDir>();
        set_today_for_tests(QDate(2026, 12, 9));
        app_state() = {};
        open();
    }
    void cleanup() {
        set_busy_timeout_for_tests(0);
        close_screens();
        messages_.reset();
        folder_.reset();
        set_today_for_tests({});
    }

    void deletion_needs_the_password_and_the_temporary_list_data();
    void deletion_needs_the_password_and_the_temporary_list();
    void deletion_removes_exactly_one_report();
    void deletion_refuses_a_report_whose_results_changed_since_listed();
    void deleted_lab_ids_are_never_offered_again();
    void consolidated_sections_name_their_doctor_and_an_empty_day_names_the_patient();
    void consolidated_pages_of_ten_tests_a_pathologist_would_sign_data();
    void consolidated_pages_of_ten_tests_a_pathologist_would_sign();
    void header_option_and_empty_report();
    void consolidated_report_of_today();
    void consolidated_id_must_be_a_whole_number();
    void two_builds_at_once_print_their_own_rows();
    void backup_names_a_file_per_day();
    void backup_while_another_workstation_writes();
    void a_long_backup_keeps_the_window_alive();
    void a_save_between_backup_steps_is_stored();
    void keyboard_and_names();
    void consolidated_pages_repeat_the_patient_and_headings();
};

void TestUtility::deletion_needs_the_password_and_the_temporary_list_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("temporary_list");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("privileged, temporary list") << "pelun" << true << true;
    QTest::newRow("capitals and blanks") << "  PELUN " << true << true;
    QTest::newRow("privileged, all reports") << "pelun" << false << false;
    QTest::newRow("other password, temporary list") << "lab123" << true << false;
    QTest::newRow("other password, all reports") << "lab123" << false << false;
    QTest::newRow("empty password") << "" << true << false;
}

void TestUtility::deletion_needs_the_password_and_the_temporary_list() {
    QFETCH(QString, password);
    QFETCH(bool, temporary_list);
    QFETCH(bool, deleted);
    seed(4, 1, "Serology", "2026-12-09", "Y", {{0, "ASLO (N : Negative)", "Positive"}});
    app_state().login_password = password;
    temporary_list ? screen_->temporary_reports() : screen_->all_reports();
    QVERIFY(list()->isVisible());
    QCOMPARE(list()->grid()->isColumnHidden(6), temporary_list);
    list()->row_clicked(0);
    const QStringList expected =
        deleted ? QStringList{"Are you sure you want to delete Lab. ID 4", "Report is deleted"}
                : QStringList{};
    QCOMPARE(messages_->texts(), expected);
    QCOMPARE(number_of("select count(*) from test_main"), deleted ? 0 : 1);
    QCOMPARE(number_of("select count(*) from Serology"), deleted ? 0 : 1);
    QCOMPARE(list()->isVisible(), !deleted);
    QCOMPARE(number_of("select count(*) from registration"), 1); // the patient stays registered
}

void TestUtility::deletion_removes_exactly_one_report() {
    app_state().login_password = "pelun";
    seed(1, 7, "Routine haemotology", "2026-12-09", "Y", {{0, "Polymorphs", "60%"}, {0, "Blasts", "0%"}});
    seed(2, 7, "Routine haemotology", "2026-12-09", "Y", {{0, "Polymorphs", "55%"}});
    seed(3, 7, "No such test", "2026-12-09", "Y", {});
    screen_->temporary_reports();
    messages_->answer(MessageAnswer::No);
    list()->row_clicked(0); // refused at the question
    QCOMPARE(number_of("select count(*) from Routine_haemotology"), 3);
    list()->row_clicked(0);
    QCOMPARE(number_of("select count(*) from Routine_haemotology where lab_id = 1"), 0);
    QCOMPARE(number_of("select count(*) from Routine_haemotology where lab_id = 2"), 1);
    QCOMPARE(number_of("select count(*) from test_main"), 2);
    // The list was not refreshed: lab id 1 is still on it, and is gone.
    screen_->temporary_reports();
    QCOMPARE(list()->model()->rowCount(), 2);
    messages_->clear();
    list()->row_clicked(1); // a test that names no table: nothing is deleted
    QCOMPARE(messages_->shown.size(), 2);
    QVERIFY(messages_->texts()[1].startsWith("Deleting the report failed."));
    QCOMPARE(number_of("select count(*) from test_main where lab_id = 3"), 1);
    QVERIFY(execute("delete from test_main where lab_id = 2").ok()); // another workstation
    messages_->clear();
    list()->row_clicked(0);
    QCOMPARE(messages_->texts(),
             (QStringList{"Are you sure you want to delete Lab. ID 2", "Record can not be found"}));
    QVERIFY(list()->isVisible());
}

void TestUtility::deletion_refuses_a_report_whose_results_changed_since_listed() {
    app_state().login_password = "pelun";
    seed(1, 7, "Routine haemotology", "2026-12-09", "Y", {{0, "Polymorphs", "60%"}});
    screen_->temporary_reports();
    // Another workstation corrects only the result: the row the list shows reads the same.
    auto looked_up = report_snapshot("Routine_haemotology", 1).value;
    QVERIFY(looked_up);
    ReportChange change{looked_up->header, "Routine_haemotology", {{0, "Polymorphs", "65%"}}, {}, *looked_up};
    QVERIFY(modify_report(kStaff, change).ok());
    QCOMPARE(find_report(1).value->t_date, QString("2026-12-09"));
    list()->row_clicked(0);
    QCOMPARE(messages_->texts().last(), QString("Another workstation changed this report since the list was "
                                                "read. Nothing was deleted."));
    QCOMPARE(report_results("Routine_haemotology", 1).value.value(0).result, QString("65%"));
    // Read afresh, the list lets it go.
    screen_->temporary_reports();
    list()->row_clicked(0);
    QCOMPARE(messages_->texts().last(), QString("Report is deleted"));
    QVERIFY(!find_report(1).value);
}

void TestUtility::deleted_lab_ids_are_never_offered_again() {
    app_state().login_password = "pelun";
    seed(17, 7, "Serology", "2026-12-09", "N", {});
    seed(18, 7, "Serology", "2026-12-09", "Y", {{0, "RA", "+"}});
    seed(19, 8, "Serology", "2026-12-09", "Y", {{0, "RA", "-"}});
    QCOMPARE(next_lab_id().value, 20);
    screen_->temporary_reports();
    list()->row_clicked(1); // the newest, 19
    screen_->temporary_reports();
    list()->row_clicked(0); // then 18
    QCOMPARE(number_of("select count(*) from test_main"), 1);
    QCOMPARE(next_lab_id().value, 20);
    // A screen that offered 18 before the deletion cannot store a second "Lab ID 18".
    NewReport again{std::nullopt, {18, 7, "", "", "Serology", "", "N"}, "Serology", {{0, "RA", "+"}}};
    QVERIFY(save_report(kStaff, again).duplicate());
    QCOMPARE(number_of("select count(*) from test_main where lab_id = 18"), 0);
    again.header.lab_id = 20;
    QVERIFY(save_report(kStaff, again).ok());
    QCOMPARE(next_lab_id().value, 21);
}

void TestUtility::consolidated_sections_name_their_doctor_and_an_empty_day_names_the_patient() {
    seed(1, 5, "Routine haemotology", "2026-12-09", "N", {{0, "Polymorphs", "60%"}});
    seed(2, 5, "Blood sugar report", "2026-12-09", "N", {{0, "Random urine sugar", "Nil"}});
    QVERIFY(execute("update test_main set ref_by = case lab_id when 1 then 'Dr. Menon' else 'Dr. Iyer' end")
                .ok());
    seed(3, 6, "Peripheral blood smear", "2026-12-09", "N", {{0, "R.B.C.", "are normocytic"}});
    QVERIFY(execute("update registration set patient_name = 'Ravi Kumar' where patient_id = 6").ok());
    QVERIFY(add_patient(kStaff, minimal_patient(7, "Meena Pillai", "", "")).ok());
    auto printed = [&](qint64 patient) {
        [&] { QVERIFY(fill_consolidated(patient).ok()); }();
        ReportsReadSharedConnection with_build;
        const Prepared p = prepare_report(
            {QString(REPORT_FILES_DIR) + "/consolidated_report.rpt", std::nullopt}, folder_->database_path());
        if (!p.report) return p.error;
        const QString pdf = QDir(backups()).filePath(QString("consolidated-%1.pdf").arg(patient));
        return write_pdf(*p.report, pdf).isEmpty() ? pdf_to_text(pdf) : QString("not written");
    };
    const QString two = printed(5);
    const qsizetype haem = two.indexOf("Routine haemotology"), sugar = two.indexOf("Blood sugar report");
    QVERIFY2(haem > 0 && sugar > haem, qPrintable(two));
    QVERIFY(two.indexOf("Referred by Dr. Menon") > haem && two.indexOf("Referred by Dr. Menon") < sugar);
    QVERIFY(two.indexOf("Referred by Dr. Iyer") > sugar);
    // Only a smear today, and nothing at all: the page still names the patient typed.
    const QString smear = printed(6);
    QVERIFY2(smear.contains("Ravi Kumar") && smear.contains("No results were recorded today"),
             qPrintable(smear));
    QVERIFY(smear.contains("printed separately: Peripheral blood smear (Lab ID 3)"));
    const QString none = printed(7);
    QVERIFY2(none.contains("Meena Pillai") && none.contains("No results were recorded today"),
             qPrintable(none));
    QVERIFY(!none.contains("printed separately"));
}

void TestUtility::consolidated_pages_of_ten_tests_a_pathologist_would_sign_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "consolidated_report.rpt";
    QTest::newRow("letter-head") << "h_consolidated_report.rpt";
}

void TestUtility::consolidated_pages_of_ten_tests_a_pathologist_would_sign() {
    QFETCH(QString, file);
    // Every box of the ten tests that print together, and remarks on each.
    int lab = 0;
    for (const TestDefinition* t : test_catalogue()) {
        if (t->investigation->prints_separately) continue;
        QList<ResultRow> rows;
        for (int b = 0; b < t->box_count; ++b)
            if (!QString::fromUtf8(t->items[b].caption).trimmed().isEmpty())
                rows << ResultRow{0, QString::fromUtf8(t->items[b].caption), QString("1%1").arg(b)};
        seed(++lab, 5, QString::fromUtf8(t->investigation->test), "2026-12-09", "N", rows);
        QVERIFY(execute("update test_main set remarks = 'Sample received at 9 am.' where lab_id = ?", {lab})
                    .ok());
    }
    QCOMPARE(lab, 10);
    QVERIFY(fill_consolidated(5).ok());
    ReportsReadSharedConnection with_build;
    const Prepared p =
        prepare_report({QString(REPORT_FILES_DIR) + "/" + file, std::nullopt}, folder_->database_path());
    QVERIFY2(p.report, qPrintable(p.error));
    const QString pdf = QDir(backups()).filePath("ten.pdf");
    QVERIFY(write_pdf(*p.report, pdf).isEmpty());
    int pages = 0;
    while (!pdf_to_text(pdf, pages + 1).isEmpty())
        ++pages;
    QVERIFY(pages >= 3);
    const QRegularExpression heading("· Lab ID \\d+");
    for (int page = 1; page <= pages; ++page) {
        QStringList lines = pdf_to_text(pdf, page).split('\n', Qt::SkipEmptyParts);
        // The bands: drop everything up to the last line of the patient block, and the footer.
        const qsizetype band = lines.indexOf(QRegularExpression("^Age / Sex.*|^Date$|^Reported.*"));
        QVERIFY(band >= 0);
        while (!lines.isEmpty() && lines.last().contains(QRegularExpression("Page \\d+ of|printed")))
            lines.removeLast();
        const QString text = lines.join('\n');
        // No heading without rows after it on its page.
        const qsizetype last_heading = text.lastIndexOf(heading);
        if (last_heading >= 0) {
            const QString after = text.mid(last_heading);
            QVERIFY2(after.count('\n') >= 4,
                     qPrintable(QString("page %1 ends with a heading:\n%2").arg(page).arg(after)));
        }
        // A page that begins inside a section says so.
        const qsizetype first_heading = text.indexOf(heading);
        const qsizetype first_item = text.indexOf("Investigation (normal range)");
        if (page > 1 && first_heading >= 0 && text.indexOf("(continued)") >= 0)
            QVERIFY(text.indexOf("(continued)") < first_item || first_item < 0);
        if (page == pages) // the signature never alone on the last page
            QVERIFY2(first_heading >= 0, qPrintable(QString("last page:\n%1").arg(text)));
    }
    // At least one section runs on to another page, and says so there.
    bool continued = false;
    for (int page = 2; page <= pages; ++page)
        continued |= pdf_to_text(pdf, page).contains("(continued)");
    QVERIFY(continued);
}

void TestUtility::header_option_and_empty_report() {
    messages_->answer(MessageAnswer::Ok);
    screen_->header_option();
    QVERIFY(app_state().print_with_header);
    QCOMPARE(messages_->shown[0].buttons, MessageButtons::OkCancel);
    QCOMPARE(messages_->texts()[0], QString("This action will print all reports with header"));
    screen_->empty_report();
    QCOMPARE(prints_.entries.last().request.file_path, QString("empty.rpt"));
    QVERIFY(!prints_.entries.last().request.selection);
    messages_->answer(MessageAnswer::Cancel);
    screen_->header_option();
    QVERIFY(!app_state().print_with_header);
}

void TestUtility::consolidated_report_of_today() {
    seed(1, 5, "Routine haemotology", "2026-12-09", "N", {{0, "Haemoglobin (N : x) ", "12 gm/dl"}});
    seed(2, 5, "Blood sugar report", "2026-12-09", "N", {{0, "Random urine sugar", "Nil"}});
    seed(3, 5, "Serology", "2026-12-08", "N", {{0, "ASLO (N : Negative)", "Negative"}});        // yesterday
    seed(4, 5, "Peripheral blood smear", "2026-12-09", "N", {{0, "R.B.C.", "are normocytic"}}); // separate
    seed(5, 5, "Culture and Antibiotic sensitivity pattern", "2026-12-09", "N", {{0, "Material", "Urine"}});
    seed(6, 6, "Serology", "2026-12-09", "N", {{0, "ASLO (N : Negative)", "Positive"}}); // another patient
    consolidate("   ");
    QCOMPARE(messages_->texts(), QStringList{"No ID given"});
    QVERIFY(screen_->findChild<QWidget*>("Frame2")->isVisible());
    consolidate(" 5");
    const QStringList expected{"Routine_haemotology|1|Haemoglobin (N : x) |12 gm/dl",
                               "Blood_sugar_report|2|Random urine sugar|Nil"};
    QCOMPARE(prints_.entries.last().seen, expected);
    QCOMPARE(prints_.entries.last().request.file_path, folder_->path() + "\\consolidated_report.rpt");
    QVERIFY(!screen_->findChild<QWidget*>("Frame2")->isVisible());
    QCOMPARE(screen_->findChild<QLineEdit*>("Text1")->text(), QString());
    // Yesterday's report modified today counts; the second build keeps only its rows.
    QVERIFY(execute("update test_main set t_date = '2026-12-09' where lab_id = 3").ok());
    app_state().print_with_header = true;
    consolidate("6");
    QCOMPARE(prints_.entries.last().seen, QStringList{"Serology|6|ASLO (N : Negative)|Positive"});
    QCOMPARE(number_of("select count(*) from temp"), 1);
    QCOMPARE(prints_.entries.last().request.file_path, folder_->path() + "\\h_consolidated_report.rpt");
    consolidate("5");
    QCOMPARE(prints_.entries.last().seen.size(), 3);
    QCOMPARE(messages_->texts(), QStringList{"No ID given"});
}

void TestUtility::consolidated_id_must_be_a_whole_number() {
    seed(1, 5, "Serology", "2026-12-09", "N", {{0, "ASLO (N : Negative)", "Negative"}});
    consolidate("5");
    for (const char* typed : {"0 or 1=1", "12abc", "5; delete from temp", "-5", "99999999999999999999"}) {
        messages_->clear();
        consolidate(typed);
        QCOMPARE(messages_->texts(), QStringList{"The patient id must be a whole number."});
        QVERIFY(screen_->findChild<QWidget*>("Frame2")->isVisible());
    }
    QCOMPARE(number_of("select count(*) from temp"), 1); // untouched
    QCOMPARE(prints_.entries.size(), 1);
}

void TestUtility::two_builds_at_once_print_their_own_rows() {
    seed(1, 5, "Serology", "2026-12-09", "N", {{0, "ASLO (N : Negative)", "Negative"}});
    seed(2, 6, "Widal test", "2026-12-09", "N", {{0, "S typh1 \"O\"", "1:160"}});
    // While this workstation prints patient 5, another starts patient 6's build.
    QSqlDatabase other = folder_->other_workstation();
    bool other_got_in = true, tried = false;
    prints_.while_printing = [&] {
        if (std::exchange(tried, true)) return;
        QSqlQuery q(other);
        other_got_in = q.exec("BEGIN IMMEDIATE");
        if (other_got_in) {
            q.exec("DELETE FROM temp");
            q.exec("INSERT INTO temp VALUES ('widal_test', 2, 'S typh1 \"O\"', '1:160')");
            q.exec("COMMIT");
        }
    };
    consolidate("5");
    QVERIFY(!other_got_in); // it waits for this build to finish
    QCOMPARE(prints_.entries.last().seen, QStringList{"Serology|1|ASLO (N : Negative)|Negative"});
    consolidate("6");
    QCOMPARE(prints_.entries.last().seen, QStringList{"Widal_test|2|S typh1 \"O\"|1:160"});
}

void TestUtility::backup_names_a_file_per_day() {
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha", "", "")).ok());
    screen_->backup();
    QVERIFY(add_patient(kStaff, minimal_patient(2, "Ravi", "", "")).ok());
    screen_->backup(); // the same day: replaced by the later copy
    set_today_for_tests(QDate(2026, 12, 10));
    screen_->backup();
    QCOMPARE(messages_->texts(), QStringList(3, "Backup successful!"));
    QCOMPARE(QDir(backups()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"tavora lab09-12-2026.mdb", "tavora lab09-12-2026.mdb.anchor",
                          "tavora lab10-12-2026.mdb", "tavora lab10-12-2026.mdb.anchor"}));
    QCOMPARE(integrity_problems(QDir(backups()).filePath("tavora lab09-12-2026.mdb")), QString());
    QCOMPARE(rows_in(QDir(backups()).filePath("tavora lab09-12-2026.mdb"), "registration"), 2);
    QVERIFY(connection_is_open());

    // The progress never outlives a quick backup: read for longer than the
    // four seconds after which a progress dialog shows itself, the message
    // has no dialog over it.
    bool dialog_over_message = true;
    const MessageHandler recorder = set_message_handler([&](const ShownMessage&) {
        QTest::qWait(4500);
        const auto* progress = screen_->findChild<QProgressDialog*>("backup_progress");
        dialog_over_message = progress && progress->isVisible();
        return MessageAnswer::Ok;
    });
    screen_->backup();
    set_message_handler(recorder);
    QVERIFY(!dialog_over_message);

    // A folder that cannot be made: "Accesses denied.", nothing written.
    messages_->clear();
    screen_->set_backup_folder(QDir(backups()).filePath("tavora lab09-12-2026.mdb/inside"));
    screen_->backup();
    QCOMPARE(messages_->texts(), QStringList{"Accesses denied."});
}

void TestUtility::a_long_backup_keeps_the_window_alive() {
    // A database of a few hundred MB: the copy and its check take seconds.
    {
        QSqlQuery other(folder_->other_workstation());
        // Indexed rows, as a laboratory's are: the check of the copy reads them all.
        QVERIFY(other.exec("create table bulk (k text, b blob)"));
        QVERIFY(other.exec("create index bulk_k on bulk (k)"));
        QVERIFY(other.exec("with recursive n(i) as (select 1 union all select i + 1 from n where i < 400000) "
                           "insert into bulk select hex(randomblob(16)), randomblob(500) from n"));
    }
    QVERIFY(QFileInfo(folder_->database_path()).size() > 200'000'000);
    // A timer of the window's thread ticks every 100 ms throughout.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest_gap = 0;
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        longest_gap = std::max(longest_gap, clock.elapsed() - last);
        last = clock.elapsed();
        ++ticks;
    });
    tick.start(100);
    screen_->backup();
    tick.stop();
    const qint64 took = clock.elapsed();
    longest_gap = std::max(longest_gap, took - last);
    QVERIFY2(took > 300, "the backup was too quick to show anything");
    QVERIFY2(longest_gap <= 250, qPrintable(QString("the window stood still for %1 ms").arg(longest_gap)));
    QVERIFY(ticks >= took / 100 - 2);
    // The same message as ever, with the file's full path as its details.
    QCOMPARE(messages_->texts(), QStringList{"Backup successful!"});
    QCOMPARE(messages_->shown[0].detail, QDir(backups()).filePath("tavora lab09-12-2026.mdb"));
    QVERIFY(screen_->isEnabled());
}

void TestUtility::backup_while_another_workstation_writes() {
    set_busy_timeout_for_tests(200); // the 5 seconds, shortened
    open_connection();               // as the menu left it
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("BEGIN EXCLUSIVE"));
    screen_->backup(); // waits out the busy timeout
    QCOMPARE(messages_->texts(),
             QStringList{"Close Tavora lab application on clients. Try 'Backup' on the server"});
    QCOMPARE(QDir(backups()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    QVERIFY(other.exec("ROLLBACK"));
    QVERIFY(connection_is_open());
    QVERIFY(next_patient_id().ok());
}

// The copy goes a few pages at a time: a workstation saves between two steps,
// its save is stored at once, and the backup is still one sound snapshot
// (here, the one taken after that save).
void TestUtility::a_save_between_backup_steps_is_stored() {
    if (testing_on_server()) QSKIP("the server's backup is its own dump");
    for (int i = 1; i <= 300; ++i)
        QVERIFY(add_patient(kStaff,
                            minimal_patient(i, QString("Patient %1 ").arg(i) + QString(200, u'x'), "", ""))
                    .ok());
    QSqlDatabase other = folder_->other_workstation();
    int saves = 0;
    set_snapshot_steps_for_tests(4, [&] {
        if (saves > 0) return;
        QSqlQuery q(other);
        QVERIFY(
            q.exec("INSERT INTO registration (patient_id, patient_name) VALUES (1000, 'Saved meanwhile')"));
        ++saves;
    });
    SnapshotStats stats;
    const QString copy = QDir(backups()).filePath("stepwise.mdb");
    QDir().mkpath(backups());
    const DbError e = snapshot_database(copy, folder_->database_path(), &stats);
    set_snapshot_steps_for_tests(0);
    QVERIFY2(e.ok(), qPrintable(e.description));
    QCOMPARE(saves, 1);
    QVERIFY(stats.steps > 10);
    QCOMPARE(stats.restarts, 1);
    QCOMPARE(number_of("SELECT count(*) FROM registration WHERE patient_id = 1000"), 1);
    QCOMPARE(integrity_problems(copy), QString());
    QCOMPARE(rows_in(copy, "registration"), 301);

    // A workstation that saves between every two steps: after two restarts
    // the file is copied as it stands and levelled under one shared lock,
    // the save made between the two in it too, and the backup is made all the same.
    int patient = 2000;
    set_snapshot_steps_for_tests(4, [&] {
        QSqlQuery save(other);
        QVERIFY(save.exec(QString("INSERT INTO registration (patient_id, patient_name) VALUES (%1, 'Busy')")
                              .arg(++patient)));
    });
    const QString busy_copy = QDir(backups()).filePath("busy.mdb");
    const DbError busy = snapshot_database(busy_copy, folder_->database_path(), &stats);
    set_snapshot_steps_for_tests(0);
    QVERIFY2(busy.ok(), qPrintable(busy.description));
    QCOMPARE(stats.restarts, 2);
    QVERIFY(stats.one_locked_copy);
    QCOMPARE(integrity_problems(busy_copy), QString());
    QCOMPARE(rows_in(busy_copy, "registration"), number_of("SELECT count(*) FROM registration"));
    QCOMPARE(number_of("SELECT count(*) FROM registration WHERE patient_id = " + QString::number(patient)),
             1);
}

void TestUtility::keyboard_and_names() {
    for (const char* name : {"backup", "Image1", "Image2", "Image3", "Image4", "Command3", "Command1"}) {
        QPushButton* b = button(name);
        QVERIFY2(b && !b->accessibleName().isEmpty() && b->focusPolicy() & Qt::TabFocus, name);
    }
    QCOMPARE(button("Image4")->accessibleName(), QString("Temperory patient list"));
    button("Command3")->setFocus();
    QTest::keyClick(button("Command3"), Qt::Key_Return);
    QTRY_VERIFY(screen_->findChild<QWidget*>("Frame2")->isVisible());
    QCOMPARE(QApplication::focusWidget(), screen_->findChild<QLineEdit*>("Text1"));
}

void TestUtility::consolidated_pages_repeat_the_patient_and_headings() {
    QList<ResultRow> many;
    for (int i = 0; i < 45; ++i) // two pages
        many << ResultRow{0, QString("Item %1").arg(i), QString::number(i)};
    seed(1, 5, "Routine haemotology", "2026-12-09", "N", many);
    QVERIFY(execute("update test_main set remarks = 'Line one\nline two' where lab_id = 1").ok());
    seed(2, 5, "Peripheral blood smear", "2026-12-09", "N", {{0, "R.B.C.", "are normocytic"}});
    QVERIFY(fill_consolidated(5).ok());
    ReportsReadSharedConnection with_build;
    const Prepared p = prepare_report(
        {QString(REPORT_FILES_DIR) + "/h_consolidated_report.rpt", std::nullopt}, folder_->database_path());
    QVERIFY2(p.report, qPrintable(p.error));
    const QString pdf = QDir(backups()).filePath("consolidated.pdf");
    QVERIFY(write_pdf(*p.report, pdf).isEmpty());
    const QString first = pdf_to_text(pdf, 1), second = pdf_to_text(pdf, 2);
    QVERIFY(first.contains("Asha D'Souza") && second.contains("Asha D'Souza"));
    QVERIFY(second.contains("Investigation (normal range)"));
    QVERIFY2(second.contains("Line one\nline two"), qPrintable(second.right(300)));
    QVERIFY(second.contains("printed separately: Peripheral blood smear (Lab ID 2)"));
}

TAVORA_TEST_MAIN(TestUtility)
#include "test_utility.moc"
