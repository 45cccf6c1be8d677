// Finding a patient, the history, the cumulative report and CSV exports.
#include "test_support.h"

#include "accounts.h"
#include "analyzer_results.h"
#include "pending_window.h"
#include "qc_window.h"

#include "verify_list.h"

#include "app_state.h"
#include "boxes.h"
#include "core_tables.h"
#include "csv_export.h"
#include "dates.h"
#include "find_patient.h"
#include "lab_reports.h"
#include "list_panel.h"
#include "main_menu.h"
#include "patient_history.h"
#include "patient_search.h"
#include "prepared_report.h"
#include "report_engine.h"
#include "report_layout.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "start.h"
#include "trend_window.h"

#include <QAccessible>
#include <QAreaSeries>
#include <QChart>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QProcess>
#include <QPushButton>
#include <QScatterSeries>
#include <QShortcut>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>

namespace {

Patient patient(qint64 id, const QString& name, const QString& phone = "-", const QString& mobile = "-") {
    Patient p = minimal_patient(id, name, "30", "F");
    p.phone = phone;
    p.mobile = mobile;
    return p;
}

QStringList found_names(const QString& typed) {
    auto keys = list_keys(patient_search(typed));
    QStringList names;
    for (const QStringList& row : list_rows(patient_search(typed), keys.value).value.rows)
        names << row.value(1);
    names.sort();
    return names;
}

void report(qint64 lab, qint64 patient_id, const QString& date, const QString& test, const QString& table,
            const QList<ResultRow>& rows) {
    if (!find_patient(patient_id).value)
        QVERIFY(add_patient(kStaff, minimal_patient(patient_id, "Patient", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt, {lab, patient_id, "Dr. Rao", {}, test, "", "N"}, table, rows})
                .ok());
    QVERIFY(execute("update test_main set t_date = ? where lab_id = ?", {date, lab}).ok());
}

} // namespace

class TestFind : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    QList<ReportRequest> prints_;

    void record_prints() {
        record_report_runs([this](const ReportRequest& request) {
            prints_ << request;
            return QString();
        });
    }
    void seed_people() {
        QVERIFY(add_patient(kStaff, patient(1, "Asha D'Souza", "040-2345678", "9876543210")).ok());
        QVERIFY(add_patient(kStaff, patient(2, QString::fromUtf8("José Fernández"))).ok());
        QVERIFY(add_patient(kStaff, patient(3, "Ravi  Kumar")).ok());
        QVERIFY(add_patient(kStaff, patient(4, "O'Brien'; DROP TABLE registration; --")).ok());
        QVERIFY(add_patient(kStaff, patient(5, "Mary %_ Smith")).ok());
        report(77, 3, "2026-12-01", "Serology", "Serology", {});
    }

private slots:
    void initTestCase() {
        install_screens();
        record_prints();
    }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        prints_.clear();
    }
    void cleanup() {
        close_screens();
        messages_.reset();
        folder_.reset();
    }

    void search_by_every_kind_of_key_data();
    void search_by_every_kind_of_key();
    void a_search_lists_the_most_recent_thousand();
    void lists_read_in_parts_keep_their_rows_and_order();
    void the_index_keeps_in_step_with_every_write();
    void history_newest_first_and_its_actions();
    void cumulative_grid_with_missing_items_and_dates();
    void csv_quoting_reads_back();
    void find_window_from_the_keyboard();
    void a_number_typed_goes_to_that_patient();
    void reports_to_verify_oldest_first_and_opened_by_enter();
    void analyzer_results_wait_in_their_window_and_fill_the_screen();
    void a_result_is_drawn_over_the_report_dates();
};

void TestFind::search_by_every_kind_of_key_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("names");
    const QString jose = QString::fromUtf8("José Fernández");
    QTest::newRow("middle of a name") << "Souza" << QStringList{"Asha D'Souza"};
    QTest::newRow("any case") << "sOUZA" << QStringList{"Asha D'Souza"};
    QTest::newRow("two letters, any case") << "sO" << QStringList{"Asha D'Souza"};
    QTest::newRow("apostrophe") << "D'Sou" << QStringList{"Asha D'Souza"};
    QTest::newRow("accents") << QString::fromUtf8("Fernández") << QStringList{jose};
    QTest::newRow("accent, another case") << QString::fromUtf8("josé") << QStringList{jose};
    QTest::newRow("two blanks kept") << "Ravi  Ku" << QStringList{"Ravi  Kumar"};
    QTest::newRow("part of a phone") << "2345" << QStringList{"Asha D'Souza"};
    QTest::newRow("phone with its hyphen") << "040-23" << QStringList{"Asha D'Souza"};
    QTest::newRow("part of a mobile") << "654321" << QStringList{"Asha D'Souza"};
    // Patient number 4, and a phone with a 4 in it.
    QTest::newRow("patient number") << "4"
                                    << QStringList{"Asha D'Souza", "O'Brien'; DROP TABLE registration; --"};
    QTest::newRow("lab id") << "77" << QStringList{"Ravi  Kumar"};
    QTest::newRow("SQL fragment") << "'; DROP" << QStringList{"O'Brien'; DROP TABLE registration; --"};
    QTest::newRow("quote in the search") << "\"x" << QStringList{};
    QTest::newRow("LIKE wildcards are letters") << "%_" << QStringList{"Mary %_ Smith"};
    QTest::newRow("blanks around") << "  Mary  " << QStringList{"Mary %_ Smith"};
    QTest::newRow("nothing typed") << ""
                                   << QStringList{"Asha D'Souza", jose, "Mary %_ Smith",
                                                  "O'Brien'; DROP TABLE registration; --", "Ravi  Kumar"};
}

void TestFind::search_by_every_kind_of_key() {
    QFETCH(QString, typed);
    QFETCH(QStringList, names);
    seed_people();
    names.sort();
    QCOMPARE(found_names(typed), names);
    QCOMPARE(select_rows("select * from registration").value.size(), 5);
}

void TestFind::a_search_lists_the_most_recent_thousand() {
    {
        Transaction t;
        for (int id = 1; id <= kMostFound + 50; ++id)
            QVERIFY(add_patient(kStaff, patient(id, QString("Same Surname %1").arg(id))).ok());
        QVERIFY(t.commit().ok());
    }
    const auto keys = list_keys(patient_search("Surname")).value;
    QCOMPARE(keys.size(), kMostFound);
    QCOMPARE(keys.first(), kMostFound + 50);                                          // the most recent first
    QCOMPARE(list_keys(patient_search("Same Surname 7")).value.size(), 1 + 10 + 100); // 7, 7x, 7xx
    QCOMPARE(list_keys(patient_search({})).value.size(), kMostFound + 50);            // no search: everyone
}

void TestFind::lists_read_in_parts_keep_their_rows_and_order() {
    // Ties everywhere: three registration dates, names that differ only in
    // case, reports of a few tests on a few dates, some temporary, some
    // waiting for verification.
    {
        Transaction t;
        for (int id = 1; id <= 60; ++id) {
            Patient p =
                patient(id, QString(id % 2 ? "ravi %1" : "Ravi %1").arg(id % 7), QString::number(id % 5));
            QVERIFY(add_patient(kStaff, p).ok());
            QVERIFY(execute("update registration set reg_date = ?, age = ? where patient_id = ?",
                            {QString("2026-12-0%1").arg(id % 3 + 1), QString::number(id % 4), id})
                        .ok());
        }
        QVERIFY(t.commit().ok());
    }
    {
        // Each report saved in a transaction of its own.
        for (int lab = 1; lab <= 40; ++lab) {
            report(lab, lab % 9 + 1, QString("2026-11-1%1").arg(lab % 4), lab % 3 ? "Serology" : "Widal test",
                   lab % 3 ? "Serology" : "widal_test", {});
            if (lab % 5 == 0)
                QVERIFY(execute("update test_main set temp_patient = 'Y' where lab_id = ?", {lab}).ok());
            if (lab % 2 == 0) // the rest wait for verification
                QVERIFY(execute("update report_signoff set verified_by = 'p' where lab_id = ?", {lab}).ok());
        }
    }
    QList<std::pair<QString, ListQuery>> lists = {
        {"patients", patient_list()},
        {"a test's reports", test_report_list("Serology")},
        {"every report", all_reports_list()},
        {"temporary reports", temporary_reports_list()},
        {"reports to verify", unverified_reports_list()},
        {"a history", report_history(2)},
        {"a search", patient_search("avi")},
    };
    for (const QString& column : kFoundColumns)
        for (bool descending : {false, true})
            lists.append({"everyone by " + column + (descending ? " descending" : ""),
                          patient_search({}, column, descending)});
    for (const auto& [name, list] : lists) {
        const auto whole = list_keys(list); // one statement, to its end
        QVERIFY2(whole.ok() && whole.value.size() > 3, qPrintable(name));
        for (int part : {1, 3, 7}) {
            ListCursor cursor;
            QList<qint64> parts;
            for (;;) {
                auto next = next_list_keys(list, cursor, part);
                QVERIFY2(next.ok(), qPrintable(name + ": " + next.error.description));
                parts += next.value;
                if (next.value.size() < part) break;
            }
            QVERIFY2(parts == whole.value, qPrintable(QString("%1 in parts of %2").arg(name).arg(part)));
        }
    }
    // The model shows the first screenful at once and reads the rest when the
    // event loop is free; a row saved meanwhile is listed once, in its place.
    {
        Transaction t;
        for (int id = 61; id <= 400; ++id)
            QVERIFY(add_patient(kStaff, patient(id, "Later")).ok());
        QVERIFY(t.commit().ok());
    }
    PagedListModel model;
    QSignalSpy completed(&model, &PagedListModel::completed);
    QVERIFY(model.set_list(patient_list(), {300, 2}, "Exact").ok());
    QCOMPARE(model.rowCount(), 2 + PagedListModel::kPageRows - 1); // 2 is among the first screenful
    QVERIFY(!model.complete());
    QVERIFY(add_patient(kStaff, patient(401, "Saved meanwhile")).ok());
    QVERIFY(completed.wait(5000));
    QList<qint64> shown;
    for (int row = 0; row < model.rowCount(); ++row)
        shown << model.key(row);
    QList<qint64> expected = {300, 2};
    for (qint64 id = 1; id <= 401; ++id)
        if (id != 300 && id != 2) expected << id;
    QCOMPARE(shown, expected);
    QCOMPARE(model.cell(model.rowCount() - 1, 1), QString("Saved meanwhile"));
}

void TestFind::the_index_keeps_in_step_with_every_write() {
    QVERIFY(add_patient(kStaff, patient(1, "Zed Quinn", "5551234")).ok());
    QCOMPARE(found_names("Quinn"), QStringList{"Zed Quinn"});
    const Patient stored = *find_patient(1).value;
    Patient changed = stored;
    changed.patient_name = "Zed Rivers";
    changed.phone = "5559999";
    QVERIFY(modify_patient(kStaff, changed, stored).ok());
    QCOMPARE(found_names("Quinn"), QStringList{});
    QCOMPARE(found_names("1234"), QStringList{});
    QCOMPARE(found_names("Rivers"), QStringList{"Zed Rivers"});
    QCOMPARE(found_names("9999"), QStringList{"Zed Rivers"});
    QVERIFY(delete_rows("registration", "patient_id", 1).ok());
    QCOMPARE(found_names("Rivers"), QStringList{});
    // A test screen's minimal registration goes in too.
    QVERIFY(save_report(kStaff, {minimal_patient(2, "Walk In Wanda", "", ""),
                                 {1, 2, "", "", "Serology", "", "Y"},
                                 "Serology",
                                 {}})
                .ok());
    QCOMPARE(found_names("Wanda"), QStringList{"Walk In Wanda"});
}

void TestFind::history_newest_first_and_its_actions() {
    QVERIFY(add_patient(kStaff, patient(9, "Farah")).ok());
    report(1, 9, "2026-11-01", "Serology", "Serology", {{0, "ASLO (N : Negative)", "Positive"}});
    report(2, 9, "2026-12-05", "Blood sugar report", "blood_sugar_report",
           {{0, "Fasting blood glucose (N :60 - 100 mg/dl)", "126 mg/dl"}});
    report(3, 9, "2026-12-05", "Widal test", "widal_test", {});
    report(4, 8, "2026-12-06", "Serology", "Serology", {}); // another patient
    auto* history = qobject_cast<PatientHistoryWindow*>(screens::open(kPatientHistoryScreen));
    QVERIFY(history->show_patient(9));
    auto* model = history->list()->model();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->key(0), 3); // newest first; the same day, the later report first
    QCOMPARE(model->key(1), 2);
    QCOMPARE(model->key(2), 1);
    QCOMPARE(model->headerData(3, Qt::Horizontal).toString(), QString("Referring doctor"));
    // Print the selected report on its own file, plain or letter-head.
    history->list()->grid()->selectRow(1);
    app_state().print_with_header = true;
    history->print_selected();
    app_state().print_with_header = false;
    QCOMPARE(prints_.last().file_path, folder_->path() + "\\h_blood_sugar_report.rpt");
    QCOMPARE(prints_.last().selection->text(), QString("{test_main.lab_ID} = 2"));
    // Open: the test screen shows the report as after Show and its lab id.
    history->open_selected();
    auto* screen = qobject_cast<TestScreen*>(screens::find("Blood_sugar_report"));
    QVERIFY(screen);
    QCOMPARE(screen->findChild<QLineEdit*>("lab_id")->text(), QString("2"));
    QCOMPARE(screen->findChild<QLineEdit*>("p_name")->text(), QString("Farah"));
    QCOMPARE(box_text(screen->result_box(0)), QString("126 mg/dl"));
    QVERIFY(screen->findChild<QPushButton*>("cmdModify")->isEnabled());
}

void TestFind::cumulative_grid_with_missing_items_and_dates() {
    QVERIFY(add_patient(kStaff, patient(9, "Farah")).ok());
    const QString hb = "Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ";
    const QString wbc = "WBC (N : 4000 to 10,000 / cumm)";
    report(1, 9, "2026-01-10", "Routine haemotology", "Routine_haemotology", {{0, hb, "9.8 gm/dl"}});
    report(2, 9, "2026-03-02", "Routine haemotology", "Routine_haemotology",
           {{0, hb, "11.5 gm/dl"}, {0, wbc, "12,000"}});
    report(3, 9, "2026-06-20", "Routine haemotology", "Routine_haemotology", {{0, wbc, "8000"}});
    report(4, 9, "2025-06-20", "Routine haemotology", "Routine_haemotology", {{0, hb, "outside the dates"}});
    report(5, 9, "2026-02-01", "Serology", "Serology",
           {{0, "ASLO (N : Negative)", "Negative"}}); // another test
    auto reports = fill_cumulative(9, "Routine haemotology", QDate(2026, 1, 1), QDate(2026, 12, 31));
    QVERIFY2(reports.ok(), qPrintable(reports.error.description));
    QCOMPARE(reports.value, 3);
    QStringList grid;
    for (const Row& r :
         select_rows("select item_order, col, result from cumulative_grid order by item_order, col").value)
        grid << r.text(0) + "/" + r.text(1) + "=" + r.text(2);
    QCOMPARE(grid,
             (QStringList{"1/1=9.8 gm/dl", "1/2=11.5 gm/dl", "1/3=", "2/1=", "2/2=12,000", "2/3=8000"}));

    // Through the history window and the report engine, to a real PDF.
    record_report_runs(nullptr);
    auto* history = qobject_cast<PatientHistoryWindow*>(screens::open(kPatientHistoryScreen));
    QVERIFY(history->show_patient(9));
    QVERIFY(fill_cumulative(9, "Routine haemotology", QDate(2026, 1, 1), QDate(2026, 12, 31)).ok());
    Prepared p;
    {
        ReportsReadSharedConnection own_tables;
        p = prepare_report({QString(REPORT_FILES_DIR) + "/h_cumulative_report.rpt", std::nullopt},
                           folder_->database_path());
    }
    record_prints();
    QVERIFY2(p.report, qPrintable(p.error));
    const QString pdf = QDir(folder_->path()).filePath("cumulative.pdf");
    QVERIFY(write_pdf(*p.report, pdf).isEmpty());
    const QString text = pdf_to_text(pdf, 0, true).simplified();
    QVERIFY2(text.contains("CUMULATIVE REPORT") && text.contains("Routine haemotology"), qPrintable(text));
    QVERIFY(text.contains("Farah"));
    QVERIFY2(text.contains("9.8 gm/dl L 11.5 gm/dl"), qPrintable(text));
    QVERIFY(!text.contains("outside the dates"));
    QVERIFY(!text.contains("ASLO"));
    const auto images_in = [](const QString& file) {
        QProcess list;
        list.start("pdfimages", {"-list", file});
        list.waitForFinished(30000);
        return QString::fromUtf8(list.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).mid(2);
    };
    const QStringList letterhead_images = images_in(pdf); // its logo: no chart asked for

    // With the chart of haemoglobin: its points in the dates, the band of her
    // sex, and one image on the page below the tables.
    const auto items = trend_items(9).value;
    const auto hb_item =
        std::find_if(items.begin(), items.end(), [&](const TrendItem& i) { return i.item == hb; });
    QVERIFY(hb_item != items.end());
    const Trend drawn = trend(9, *hb_item).value;
    QVERIFY(fill_cumulative(9, "Routine haemotology", QDate(2026, 1, 1), QDate(2026, 12, 31), &drawn).ok());
    QStringList chart;
    for (const Row& r :
         select_rows("select t_date, value, flag, low, high from cumulative_chart order by t_date").value)
        chart << QStringList{r.text(0), r.text(1), r.text(2), r.text(3), r.text(4)}.join('/');
    QCOMPARE(chart, (QStringList{"2026-01-10/9.8/L/11/15", "2026-03-02/11.5//11/15"}));
    {
        ReportsReadSharedConnection own_tables;
        p = prepare_report({QString(REPORT_FILES_DIR) + "/h_cumulative_report.rpt", std::nullopt},
                           folder_->database_path());
    }
    QVERIFY2(p.report, qPrintable(p.error));
    const QString charted = QDir(folder_->path()).filePath("charted.pdf");
    QVERIFY(write_pdf(*p.report, charted).isEmpty());
    const QStringList images = images_in(charted);
    QCOMPARE(images.size(), letterhead_images.size() + 1);
    QVERIFY(letterhead_images.filter(QRegularExpression("\\b2834\\s+732\\b")).isEmpty());
    QVERIFY2(images.filter(QRegularExpression("\\b2834\\s+732\\b")).size() == 1,
             qPrintable(images.join('\n')));
    QVERIFY2(images.join('\n').contains(QRegularExpression("\\b2834\\s+732\\b")),
             qPrintable(images[0])); // 240 x 62 mm at 300 dpi
    QVERIFY(pdf_to_text(charted, 0, true).simplified().contains(hb.simplified()));
}

void TestFind::csv_quoting_reads_back() {
    const QString awkward = QString::fromUtf8("Smith, \"Junior\"\nsecond line é");
    QVERIFY(add_patient(kStaff, patient(1, awkward, "1,2")).ok());
    QVERIFY(add_patient(kStaff, patient(2, "Plain")).ok());
    // Cells a spreadsheet would run as formulas go out as text.
    QVERIFY(add_patient(kStaff, patient(3, "=HYPERLINK(\"http://x\")", "+1-555", "-2+3")).ok());
    QVERIFY(add_patient(kStaff, patient(4, "@SUM(A1)", "\tx", "\ry")).ok());
    const QString path = QDir(folder_->path()).filePath("found.csv");
    QVERIFY(export_list_csv(nullptr, patient_search({}, "patient_id", false), kFoundColumns, path));
    QCOMPARE(QFile::permissions(path) & 0x0777, QFileDevice::Permissions(0x0640)); // patient data
    QProcess py;
    py.start("python3", {"-c",
                         "import csv,sys,json;print(json.dumps(list(csv.reader(open(sys.argv[1], "
                         "encoding='utf-8-sig', newline='')))))",
                         path});
    py.waitForFinished();
    const QString out = QString::fromUtf8(py.readAllStandardOutput());
    const QJsonArray rows = QJsonDocument::fromJson(out.toUtf8()).array();
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0].toArray()[1].toString(), QString("patient_name"));
    QCOMPARE(rows[1].toArray()[1].toString(), awkward);
    QCOMPARE(rows[1].toArray()[4].toString(), QString("1,2"));
    QCOMPARE(rows[2].toArray()[1].toString(), QString("Plain"));
    QCOMPARE(rows[2].toArray()[6].toString(), today_iso()); // dates as ISO dates
    const QStringList formulas{"'=HYPERLINK(\"http://x\")", "'+1-555", "'-2+3", "'@SUM(A1)", "'\tx", "'\ry"};
    QCOMPARE((QStringList{rows[3].toArray()[1].toString(), rows[3].toArray()[4].toString(),
                          rows[3].toArray()[5].toString(), rows[4].toArray()[1].toString(),
                          rows[4].toArray()[4].toString(), rows[4].toArray()[5].toString()}),
             formulas);
}

void TestFind::find_window_from_the_keyboard() {
    QVERIFY(add_patient(kStaff, patient(1, "Asha D'Souza")).ok());
    QVERIFY(add_patient(kStaff, patient(2, "Meena Rao")).ok());
    auto* menu = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    show_active(menu);
    QTest::keyClick(menu, Qt::Key_F, Qt::ControlModifier);
    auto* find = qobject_cast<FindPatientWindow*>(screens::find(kFindPatientScreen));
    QVERIFY(find && find->isVisible());
    QVERIFY(menu->isVisible()); // the menu stays
    show_active(find);
    QCOMPARE(find->list()->model()->rowCount(), 2);
    auto* search = find->findChild<QLineEdit*>("search");
    QTest::keyClicks(search, "souza");
    QCOMPARE(find->list()->model()->rowCount(), 1);
    QTest::keyClick(search, Qt::Key_Return);
    auto* history = qobject_cast<PatientHistoryWindow*>(screens::find(kPatientHistoryScreen));
    QVERIFY(history && history->isVisible());
    QCOMPARE(history->patient_id(), 1);
    // The history's details are read one by one: each value, its caption as the description.
    QAccessibleInterface* name =
        QAccessible::queryAccessibleInterface(history->findChild<QLabel*>("detail_1"));
    QCOMPARE(name->text(QAccessible::Name), QString("Asha D'Souza"));
    QCOMPARE(name->text(QAccessible::Description), QString("Name"));
    // The search box tells how many match.
    QCOMPARE(QAccessible::queryAccessibleInterface(search)->text(QAccessible::Description),
             QString("1 patient matches"));
    QCOMPARE(find->findChild<QToolButton*>()->accessibleName(), QString("Clear search"));
    // Tab leaves each list for the control after it; the arrows stay inside.
    const struct {
        QWidget* window;
        ListPanel* list;
        const char* next;
    } lists[] = {{find, find->list(), "export"}, {history, history->list(), "export"}};
    for (const auto& l : lists) {
        show_active(l.window);
        QTableView* grid = l.list->grid();
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 0));
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), grid);
        QTest::keyClick(grid, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != grid);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString(l.next));
    }
}

void TestFind::a_number_typed_goes_to_that_patient() {
    {
        Transaction t;
        for (int id = 1; id <= kMostFound + 200; ++id) // every phone holds 112
            QVERIFY(
                add_patient(kStaff, patient(id, QString("Patient %1").arg(id), QString("040-112%1").arg(id)))
                    .ok());
        QVERIFY(t.commit().ok());
    }
    QVERIFY(execute("update registration set reg_date = '2016-03-01' where patient_id = 112").ok());
    report(112, 7, "2026-12-01", "Serology", "Serology", {}); // lab ID 112 is patient 7's
    auto* find = qobject_cast<FindPatientWindow*>(screens::open(kFindPatientScreen));
    show_active(find);
    auto* search = find->findChild<QLineEdit*>("search");
    auto* count = find->findChild<QLabel*>("found_count");
    QTest::keyClicks(search, "112");
    PagedListModel* found = find->list()->model();
    QCOMPARE(found->key(0), 112);
    QCOMPARE(found->key(1), 7);
    QCOMPARE(found->headerData(0, Qt::Vertical).toString(), QString("Exact"));
    QCOMPARE(found->headerData(1, Qt::Vertical).toString(), QString("Exact"));
    QCOMPARE(found->headerData(2, Qt::Vertical).toInt(), 3);
    QVERIFY(found->complete());                  // a search is read whole at once
    QCOMPARE(found->rowCount(), kMostFound + 2); // each patient once
    QCOMPARE(count->text(), QString("1,000 or more patients match: type on to narrow the list; the 2 exact "
                                    "matches are listed first"));
    QTest::keyClick(search, Qt::Key_Return);
    auto* history = qobject_cast<PatientHistoryWindow*>(screens::find(kPatientHistoryScreen));
    QVERIFY(history && history->isVisible());
    QCOMPARE(history->patient_id(), 112);
    search->setText("Patient 1199");
    QCOMPARE(count->text(), QString("1 patient matches"));
    search->setText("nobody here");
    QCOMPARE(count->text(), QString("No patient matches"));
    QCOMPARE(found->rowCount(), 0);
}

void TestFind::reports_to_verify_oldest_first_and_opened_by_enter() {
    QVERIFY(add_patient(kStaff, patient(9, "Farah")).ok());
    report(3, 9, "2026-12-08", "Serology", "Serology", {{0, "ASLO (N : Negative)", "Negative"}});
    report(1, 9, "2026-12-01", "Widal test", "widal_test", {{0, "S typh1 \"O\"", "1:160"}});
    report(2, 9, "2026-12-05", "Serology", "Serology", {{0, "ASLO (N : Negative)", "Positive"}});
    QVERIFY(verify_report(Actor{"meera", Role::Pathologist}, *report_snapshot("Serology", 2).value).ok());
    // Only a login that may verify finds the tile and Ctrl+R on the menu.
    for (Role role : {Role::Technician, Role::Pathologist}) {
        app_state().account = Account{"someone", "", "", role};
        auto* menu = qobject_cast<MainMenu*>(screens::open(kMainMenu));
        show_active(menu);
        QCOMPARE(menu->findChild<QWidget*>("verify_list") != nullptr, role == Role::Pathologist);
        QTest::keyClick(menu, Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(screens::find("verify_list") != nullptr, role == Role::Pathologist);
        if (role == Role::Technician) close_screens();
    }
    auto* list = qobject_cast<VerifyListWindow*>(screens::find("verify_list"));
    show_active(list);
    PagedListModel* rows = list->list()->model();
    QCOMPARE(rows->rowCount(), 2); // the verified report is not there
    QCOMPARE(rows->key(0), 1);     // oldest first
    QCOMPARE(rows->key(1), 3);
    QCOMPARE(rows->cell(0, 5), QString("Farah")); // whose report it is
    // A patient's history says who verified each report.
    auto history = list_rows(report_history(9), {1, 2}).value;
    QCOMPARE(history.rows.size(), 2);
    QCOMPARE(history.rows[0].last() + "|" + history.rows[1].last(), QString("|meera"));
    // Enter on a row opens that report on its own screen, as after Show and its lab id.
    list->list()->grid()->setFocus();
    list->list()->grid()->setCurrentIndex(rows->index(1, 0));
    QTest::keyClick(list->list()->grid(), Qt::Key_Return);
    auto* screen = qobject_cast<TestScreen*>(screens::find("Serology"));
    QVERIFY(screen);
    QCOMPARE(screen->findChild<QLineEdit*>("lab_id")->text(), QString("3"));
    QVERIFY(screen->findChild<QPushButton*>("cmdVerify")->isVisible());
    QVERIFY(screen->findChild<QPushButton*>("cmdVerify")->isEnabled());
    screen->verify();
    // Back on the list, the verified report is gone from it.
    screen->close();
    show_active(list);
    settle();
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(rows->key(0), 1);
    QCOMPARE(list_rows(report_history(9), {3}).value.rows.value(0).last(), QString("someone"));
    app_state().account.reset();
}

void TestFind::analyzer_results_wait_in_their_window_and_fill_the_screen() {
    QVERIFY(QFile::copy(REPORT_FILES_DIR "/analyzer_codes.tsv", folder_->path() + "/analyzer_codes.tsv"));
    app_state().account = Account{"tamor", "", "", Role::Technician};
    // A laboratory whose analyzers never sent anything sees no tile.
    auto* menu = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    QVERIFY(!menu->findChild<QWidget*>(kPendingResultsScreen));
    close_screens();
    report(5, 9, "2026-12-08", "Routine haemotology", "Routine_haemotology", {{0, "Blasts", "0%"}});
    QVERIFY(store_analyzer_message(
                {"counter",
                 "astm",
                 "raw",
                 {{"5", "HGB", "13.1"}, {"5", "WBC", "7200"}, {"5", "XYZ", "1"}, {"77", "PLT", "250000"}},
                 {}})
                .ok());
    menu = qobject_cast<MainMenu*>(screens::open(kMainMenu));
    show_active(menu);
    QVERIFY(menu->findChild<QWidget*>(kPendingResultsScreen));
    QTest::keyClick(menu, Qt::Key_A, Qt::ControlModifier);
    auto* window = qobject_cast<PendingResultsWindow*>(screens::find(kPendingResultsScreen));
    QVERIFY(window);
    show_active(window);
    QAbstractItemModel* rows = window->grid()->model();
    QCOMPARE(rows->rowCount(), 4);
    QStringList shown;
    for (int r = 0; r < rows->rowCount(); ++r)
        shown << rows->index(r, 0).data().toString() + " " + rows->index(r, 1).data().toString() + " " +
                     rows->index(r, 4).data().toString();
    QCOMPARE(shown, (QStringList{"Ready 5 HGB", "Ready 5 WBC", "No box for this code 5 XYZ",
                                 "No report yet 77 PLT"}));
    QCOMPARE(window->grid()->accessibleName(), QString("Pending analyzer results"));
    // What the listener has not stored yet is counted from its spool.
    QVERIFY(QDir().mkpath(default_spool_folder()));
    for (const char* name : {"/0000000000000001.msg", "/0000000000000002.msg"})
        QFile(default_spool_folder() + name).open(QIODevice::WriteOnly);
    window->refresh();
    QVERIFY(window->findChild<QLabel*>("pending_count")
                ->text()
                .endsWith("; 2 message(s) from the analyzers wait in the listener's spool"));
    // Quality control is apart: never a pending line, listed in its own window (Alt+Q).
    AnalyzerResult control{"QC-LOW", "HGB", "11.9", "g/dl", "N", "^^^HGB", "F", true};
    QVERIFY(store_analyzer_message({"counter", "astm", "raw", {control}, {}}).ok());
    window->refresh();
    QCOMPARE(rows->rowCount(), 4);
    show_active(window);
    window->grid()->setFocus();
    QTest::keyClick(window->grid(), Qt::Key_Q, Qt::AltModifier);
    QTRY_VERIFY(screens::find(kQcResultsScreen)); // the click is shown first
    auto* qc = qobject_cast<QcResultsWindow*>(screens::find(kQcResultsScreen));
    QCOMPARE(qc->grid()->accessibleName(), QString("Quality control results"));
    QCOMPARE(qc->grid()->rowCount(), 1);
    QCOMPARE(qc->grid()->item(0, 2)->text() + " " + qc->grid()->item(0, 5)->text(), QString("QC-LOW 11.9"));
    qc->close();
    // Enter opens the report's screen with its lab id looked up; Alt+R fills the boxes.
    window->grid()->setFocus();
    window->grid()->setCurrentIndex(rows->index(1, 0));
    QTest::keyClick(window->grid(), Qt::Key_Return);
    auto* screen = qobject_cast<TestScreen*>(screens::find(catalogue::kRoutineHaemotology.screen));
    QVERIFY(screen);
    show_active(screen);
    QCOMPARE(screen->findChild<QLineEdit*>("lab_id")->text(), QString("5"));
    auto* take = screen->findChild<QPushButton*>("cmdAnalyzer");
    QVERIFY(take->isVisible());
    QCOMPARE(take->accessibleName(), QString("Analyzer results (2)"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, Qt::AltModifier);
    QTRY_COMPARE(box_text(screen->result_box(0)), QString("13.1 gm/dl")); // the click is shown first
    QCOMPARE(box_text(screen->result_box(1)), QString("7200 /cumm"));
    QVERIFY(!take->isVisible());
    screen->modify();
    window->refresh();
    QCOMPARE(rows->rowCount(), 2);
    // A lab id without a report is told, not opened.
    window->open_row(1);
    QVERIFY(messages_->texts().last().startsWith("Lab ID 77 has no report yet."));
    app_state().account.reset();
}

// The glucose of one patient over four reports: the points in date order
// (a result that is no number left out), each with its flag, the normal band
// drawn, the same points in the table beside the chart.
void TestFind::a_result_is_drawn_over_the_report_dates() {
    const QString glucose = "Random blood glucose (N:60-140 mg/dl)";
    for (const auto& [lab, date, result] :
         {std::tuple{3, "2026-12-05", "150 mg/dl"}, std::tuple{1, "2026-11-20", "95"},
          std::tuple{4, "2026-12-08", "40 mg/dl"}, std::tuple{2, "2026-12-01", "not done"}})
        report(lab, 9, date, "Biochemistry report", "biochemistry_report", {{0, glucose, result}});
    report(5, 9, "2026-12-09", "Routine haemotology", "Routine_haemotology", {{0, "Blasts", "0%"}});
    auto* history = qobject_cast<PatientHistoryWindow*>(screens::open(kPatientHistoryScreen));
    QVERIFY(history->show_patient(9));
    const auto items = trend_items(9);
    QVERIFY(items.ok());
    QStringList shown;
    for (const TrendItem& i : items.value)
        shown << i.shown();
    QCOMPARE(shown, QStringList{"Biochemistry report: " + glucose}); // Blasts has no range to draw against
    TrendWindow* window = history->show_trend(items.value.first());
    QVERIFY(window);
    QStringList rows;
    for (int r = 0; r < window->table()->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << window->table()->item(r, c)->text();
        rows << cells.join(" | ");
    }
    QCOMPARE(rows, (QStringList{"20 Nov 2026 | 1 | 95 | ", "5 Dec 2026 | 3 | 150 mg/dl | H",
                                "8 Dec 2026 | 4 | 40 mg/dl | LL"}));
    QList<QPointF> line, marked;
    bool band = false;
    for (QAbstractSeries* s : window->chart()->series()) {
        if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            marked = scatter->points();
        else if (auto* l = qobject_cast<QLineSeries*>(s))
            line = l->points();
        else if (auto* area = qobject_cast<QAreaSeries*>(s))
            band = area->lowerSeries()->at(0).y() == 60 && area->upperSeries()->at(0).y() == 140;
    }
    auto ms = [](const char* date) {
        return qreal(QDate::fromString(date, Qt::ISODate).startOfDay().toMSecsSinceEpoch());
    };
    QCOMPARE(line, (QList<QPointF>{{ms("2026-11-20"), 95}, {ms("2026-12-05"), 150}, {ms("2026-12-08"), 40}}));
    QCOMPARE(marked, (QList<QPointF>{{ms("2026-12-05"), 150}, {ms("2026-12-08"), 40}}));
    QVERIFY(band);
    QCOMPARE(window->table()->accessibleName(), "Results of Biochemistry report: " + glucose);
    window->close();
}

TAVORA_TEST_MAIN(TestFind)
#include "test_find.moc"
