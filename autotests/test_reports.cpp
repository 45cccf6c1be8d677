#include "test_support.h"

#include "accounts.h"
#include "app_state.h"
#include "connection.h"
#include "core_tables.h"
#include "critical_calls.h"
#include "dates.h"
#include "file_dialogs.h"
#include "investigations.h"
#include "lab_reports.h"
#include "prepared_report.h"
#include "records.h"
#include "report_engine.h"
#include "report_file.h"
#include "report_layout.h"
#include "report_request.h"
#include "selection_formula.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QToolBar>

namespace {

// Copies the shipped report files into the test's program folder.
void install_report_files(const QString& folder) {
    const QDir source(QStringLiteral(REPORT_FILES_DIR));
    for (const QString& name : source.entryList({"*.rpt", "*.html", "*.png"}, QDir::Files))
        QFile::copy(source.filePath(name), QDir(folder).filePath(name));
}

QStringList shipped_reports() {
    return QDir(QStringLiteral(REPORT_FILES_DIR)).entryList({"*.rpt"}, QDir::Files, QDir::Name);
}

// One report of a test with its result rows, saved today.
void seed_report(int lab_id, int patient_id, const QString& test, const QString& table,
                 const QList<std::pair<QString, QString>>& items, const QString& name = "Asha D'Souza") {
    if (!find_patient(patient_id).value)
        QVERIFY(add_patient(kStaff, minimal_patient(patient_id, name, "34", "F")).ok());
    QVERIFY(add_row("test_main", {{"lab_id", lab_id},
                                  {"patient_id", patient_id},
                                  {"ref_by", "Dr. R. Menon"},
                                  {"t_date", "2026-12-09"},
                                  {"test", test},
                                  {"remarks", "Fasting sample."},
                                  {"temp_patient", "N"}})
                .ok());
    for (const auto& [item, result] : items)
        QVERIFY(add_row(table, {{"lab_id", lab_id}, {"item", item}, {"result", result}}).ok());
}

QString run_tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    QTemporaryDir out_;

    Prepared prepare(const QString& file, std::optional<QString> formula = std::nullopt) {
        // The consolidated report is read with the build that filled it, as the program prints it.
        std::optional<ReportsReadSharedConnection> with_build;
        if (file.contains("consolidated")) with_build.emplace();
        std::optional<Selection> selection;
        if (formula) {
            selection = parse_selection_formula(*formula).selection;
            if (!selection) return {std::nullopt, "unreadable formula " + *formula};
        }
        return prepare_report({folder_->path() + "\\" + file, selection}, folder_->database_path());
    }
    // A rendered page's words, one a line, against its reference file
    // (autotests/reference_pages): a change to what a report prints shows as a
    // diff. Words, not lines, so that another font's line breaks do not count.
    // TAVORA_WRITE_REFERENCES=1 writes the reference files afresh.
    void compare_with_reference_page(const QString& file, const QString& pdf) {
        QString text = run_tool("pdftotext", {pdf, "-"});
        QVERIFY2(!text.isEmpty(), "pdftotext (poppler-utils) is needed");
        // The day it was printed is the one word that changes from run to run.
        text.replace(display_date(today()), QStringLiteral("<today>"));
        const QByteArray words =
            text.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts).join(u'\n').toUtf8() + '\n';
        const QString reference =
            QStringLiteral(REFERENCE_PAGES_DIR "/") + QString(file).replace(' ', '_') + ".words";
        if (qEnvironmentVariableIsSet("TAVORA_WRITE_REFERENCES")) {
            QFile out(reference);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(words) == words.size());
            return;
        }
        QFile in(reference);
        QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(reference + " is missing"));
        if (in.readAll() == words) return;
        const QString got = out_.filePath(QFileInfo(reference).fileName());
        QFile out(got);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(words);
        out.close();
        QProcess diff;
        diff.start("diff", {"-u", reference, got});
        diff.waitForFinished(10000);
        QFAIL(qPrintable("the page differs from its reference:\n" +
                         QString::fromUtf8(diff.readAllStandardOutput()).left(3000)));
    }

    QString pdf_text(const PreparedReport& r, const QString& name) {
        const QString pdf = out_.filePath(name);
        if (!write_pdf(r, pdf).isEmpty()) return {};
        return run_tool("pdftotext", {"-layout", pdf, "-"});
    }

private slots:
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        install_report_files(folder_->path());
        app_state() = AppState{};
    }
    void cleanup() {
        QApplication::closeAllWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        folder_.reset();
    }

    void on_a_server_report_queries_read_only_the_laboratory_tables_data();
    void on_a_server_report_queries_read_only_the_laboratory_tables();
    void formula_grammar_data();
    void formula_grammar();
    void formula_must_name_a_field_and_have_a_place();
    void request_builder_data();
    void request_builder();
    void letter_head_is_read_at_every_request();
    void file_names_resolve_as_written();
    void faults_in_a_report_file_name_the_file_and_line_data();
    void faults_in_a_report_file_name_the_file_and_line();
    void only_the_selected_report_is_printed();
    void text_prints_as_typed();
    void lab_id_without_a_report_prints_an_empty_report();
    void every_report_file_renders_data();
    void every_report_file_renders();
    void title_is_printed_at_its_size();
    void consolidated_report_has_a_section_per_report();
    void consolidated_builds_of_two_workstations_never_mix();
    void a_last_page_never_holds_only_the_signature();
    void engine_keeps_and_replaces_its_settings();
    void a_verified_report_is_signed_by_its_verifier_data();
    void a_verified_report_is_signed_by_its_verifier();
    void a_critical_report_prints_its_call_data() { a_verified_report_is_signed_by_its_verifier_data(); }
    void a_critical_report_prints_its_call();
    void preview_appears_only_when_the_report_can_print();
};

void TestReports::formula_grammar_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qlonglong>("value");
    QTest::newRow("as the screens write it") << "{test_main.lab_ID} = 12" << true << 12LL;
    QTest::newRow("no blanks") << "{test_main.lab_id}=7" << true << 7LL;
    QTest::newRow("blanks everywhere") << "  { test_main . LAB_ID }   =   9  " << true << 9LL;
    QTest::newRow("zero") << "{test_main.lab_ID} = 0" << true << 0LL;
    QTest::newRow("negative") << "{test_main.lab_ID} = -3" << true << -3LL;
    QTest::newRow("or clause") << "{test_main.lab_ID} = 1 or 1=1" << false << 0LL;
    QTest::newRow("second clause") << "{test_main.lab_ID} = 1 and {test_main.patient_id} = 2" << false << 0LL;
    QTest::newRow("quoted number") << "{test_main.lab_ID} = '12'" << false << 0LL;
    QTest::newRow("double quotes") << "{test_main.lab_ID} = \"12\"" << false << 0LL;
    QTest::newRow("no braces") << "test_main.lab_ID = 12" << false << 0LL;
    QTest::newRow("another operator") << "{test_main.lab_ID} > 12" << false << 0LL;
    QTest::newRow("no number") << "{test_main.lab_ID} = " << false << 0LL;
    QTest::newRow("statement after") << "{test_main.lab_ID} = 1; drop table test_main" << false << 0LL;
    QTest::newRow("comment in name") << "{test_main.lab_ID--} = 1" << false << 0LL;
}

void TestReports::formula_grammar() {
    QFETCH(QString, formula);
    QFETCH(bool, accepted);
    QFETCH(qlonglong, value);
    const ParsedSelection p = parse_selection_formula(formula);
    QCOMPARE(p.selection.has_value(), accepted);
    if (accepted) {
        QCOMPARE(p.selection->value.toLongLong(), value);
        QCOMPARE(p.selection->table.toLower(), QString("test_main"));
    } else {
        QVERIFY(p.error.contains(formula));
    }
}

void TestReports::formula_must_name_a_field_and_have_a_place() {
    Prepared unknown_field = prepare("blood_sugar_report.rpt", "{test_main.nothing} = 1");
    QVERIFY(!unknown_field.report);
    QVERIFY(unknown_field.error.contains("test_main.nothing"));
    QVERIFY(!prepare("blood_sugar_report.rpt", "{sqlite_schema.name} = 1").report);
    Prepared other_case = prepare("blood_sugar_report.rpt", "{TEST_MAIN.Lab_Id} = 1");
    QVERIFY2(other_case.report, qPrintable(other_case.error));
    // A report that has nowhere to put a formula refuses to print with one.
    Prepared no_place = prepare("empty.rpt", "{test_main.lab_ID} = 1");
    QVERIFY(!no_place.report);
    QVERIFY(no_place.error.contains("no place"));
}

void TestReports::request_builder_data() {
    QTest::addColumn<qint64>("lab_id");
    QTest::addColumn<QString>("formula");
    QTest::newRow("zero") << qint64(0) << "{test_main.lab_ID} = 0";
    QTest::newRow("small") << qint64(7) << "{test_main.lab_ID} = 7";
    QTest::newRow("past a double's precision")
        << qint64(9007199254740993LL) << "{test_main.lab_ID} = 9007199254740993";
}

void TestReports::request_builder() {
    QFETCH(qint64, lab_id);
    QFETCH(QString, formula);
    const ReportRequest r = test_report_request(catalogue::kSerology, lab_id);
    QVERIFY(r.selection);
    QCOMPARE(r.selection->text(), formula);
    QCOMPARE(r.selection->value.toLongLong(), lab_id);
    // The formula as written reads back as the same selection.
    const ParsedSelection read = parse_selection_formula(formula);
    QCOMPARE(read.selection->value.toLongLong(), lab_id);
    QCOMPARE(r.file_path, program_folder() + "\\Serology.rpt");
}

void TestReports::letter_head_is_read_at_every_request() {
    app_state().print_with_header = true;
    QCOMPARE(test_report_request(catalogue::kSerology, 1).file_path, program_folder() + "\\h_ serology.rpt");
    QCOMPARE(consolidated_report_request().file_path, program_folder() + "\\h_consolidated_report.rpt");
    QVERIFY(!consolidated_report_request().selection);
    QCOMPARE(empty_report_request().file_path, QString("empty.rpt"));
    QVERIFY(!empty_report_request().selection);
    app_state().print_with_header = false;
    QCOMPARE(test_report_request(catalogue::kSerology, 1).file_path, program_folder() + "\\Serology.rpt");
    QCOMPARE(consolidated_report_request().file_path, program_folder() + "\\consolidated_report.rpt");
    QCOMPARE(empty_report_request().file_path, QString("empty.rpt"));
}

void TestReports::file_names_resolve_as_written() {
    const QString folder = folder_->path();
    QCOMPARE(resolve_report_path(folder + "\\h_ serology.rpt"), folder + "/h_ serology.rpt");
    QVERIFY(resolve_report_path(folder + "\\h_serology.rpt").isEmpty());
    QVERIFY(resolve_report_path(folder + "\\SEROLOGY.rpt").isEmpty()); // letter case as written
    QVERIFY(!prepare("h_ serology.rpt", "{test_main.lab_ID} = 1").error.contains("cannot be found"));

    // The bare empty.rpt: the working folder first, then the program folder.
    const QString before = QDir::currentPath();
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    QCOMPARE(resolve_report_path("empty.rpt"), QDir::cleanPath(folder + "/empty.rpt"));
    QFile::copy(folder + "/empty.rpt", elsewhere.filePath("empty.rpt"));
    QCOMPARE(resolve_report_path("empty.rpt"), QDir::cleanPath(elsewhere.filePath("empty.rpt")));
    QDir::setCurrent(before);

    QFile::remove(folder + "/widal_test.rpt");
    const Prepared missing = prepare("widal_test.rpt", "{test_main.lab_ID} = 1");
    QVERIFY(!missing.report);
    QVERIFY(missing.error.contains("widal_test.rpt"));
    QVERIFY(missing.error.contains("cannot be found"));
    // The path reads as this machine writes paths: the folder's "\\" is a separator here.
    QVERIFY2(missing.error.contains(QDir::toNativeSeparators(folder + "/widal_test.rpt")),
             qPrintable(missing.error));
#ifndef Q_OS_WIN
    QVERIFY(!missing.error.contains('\\'));
#endif
}

void TestReports::faults_in_a_report_file_name_the_file_and_line_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("broken xml") << "<report>\n<body>\n<![CDATA[x]]>\n</bdy>\n</report>"
                                << "line 4";
    QTest::newRow("unknown element") << "<report>\n\n<bogus/>\n<body>x</body></report>"
                                     << "line 3";
    QTest::newRow("no body") << "<report>\n</report>"
                             << "no <body>";
    QTest::newRow("not a report") << "<html/>"
                                  << "<report>";
    QTest::newRow("bad template") << "<report><body><![CDATA[{{#items}} unclosed]]></body></report>"
                                  << "body";
    QTest::newRow("bad sql")
        << "<report>\n<query name=\"q\">SELECT nothing FROM nowhere</query>\n<body>x</body></report>"
        << "query \"q\" (line 2)";
    QTest::newRow("missing include") << "<report><header include=\"gone.html\"/><body>x</body></report>"
                                     << "gone.html";
}

void TestReports::faults_in_a_report_file_name_the_file_and_line() {
    QFETCH(QString, content);
    QFETCH(QString, expected);
    QFile f(folder_->path() + "/broken.rpt");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content.toUtf8());
    f.close();
    const Prepared p = prepare("broken.rpt");
    QVERIFY(!p.report);
    QVERIFY2(p.error.contains("broken.rpt"), qPrintable(p.error));
    QVERIFY2(p.error.contains(expected), qPrintable(p.error));
}

void TestReports::only_the_selected_report_is_printed() {
    seed_report(1, 1, "Blood sugar report", "blood_sugar_report", {{"Fasting urine sugar", "Nil"}},
                "Meena Pillai");
    seed_report(2, 2, "Blood sugar report", "blood_sugar_report", {{"Fasting urine sugar", "Trace"}},
                "Ravi Kumar");
    const Prepared p = prepare("blood_sugar_report.rpt", "{test_main.lab_ID} = 2");
    QVERIFY2(p.report, qPrintable(p.error));
    QVERIFY(p.report->body_html.contains("Ravi Kumar"));
    QVERIFY(p.report->body_html.contains("Trace"));
    QVERIFY(!p.report->body_html.contains("Meena"));
    QVERIFY(!p.report->body_html.contains("Nil"));
    QVERIFY(p.report->suggested_name.startsWith("2 Ravi Kumar Blood sugar report"));
}

void TestReports::text_prints_as_typed() {
    const QString caption =
        "Anti Thyroglobulin antibody (ATG) (negative Titre <= 1:100  Positive Titre >= 1:100)";
    seed_report(
        5, 3, "Thyroid hormone profile", "Thyroid_hormone_profile",
        {{caption, "< 1:50 & falling"},
         {"Thyroid stimulating hormone (TSH)         (N : 0.30 - 5.5 ulU/ml)", "O'Neil's \"normal\""}});
    const Prepared p = prepare("h_Thyroid_hormone_profile.rpt", "{test_main.lab_ID} = 5");
    QVERIFY2(p.report, qPrintable(p.error));
    const QString text = pdf_text(*p.report, "thyroid.pdf");
    QVERIFY2(!text.isEmpty(), "pdftotext (poppler-utils) is needed");
    QVERIFY(text.contains("Titre <= 1:100"));
    QVERIFY(text.contains("Titre >= 1:100)"));
    QVERIFY(text.contains(QRegularExpression("\\(TSH\\) {6,}\\(N : 0.30"))); // the blanks are kept
    QVERIFY(text.contains("< 1:50 & falling"));
    QVERIFY(text.contains("O'Neil's \"normal\""));
    QVERIFY(text.contains("Asha D'Souza"));
    QVERIFY(text.contains("TAVORA PATHOLOGY LABORATORY")); // the letter-head
}

void TestReports::lab_id_without_a_report_prints_an_empty_report() {
    seed_report(1, 1, "Serology", "Serology", {{"VDRL (N : non-reactive)", "Reactive"}});
    const Prepared p = prepare("Serology.rpt", "{test_main.lab_ID} = 99");
    QVERIFY2(p.report, qPrintable(p.error));
    QVERIFY(!p.report->body_html.contains("Reactive"));
    const QString text = pdf_text(*p.report, "none.pdf");
    QVERIFY(text.contains("SEROLOGY"));
    QVERIFY(text.contains("No results are recorded"));
    QVERIFY(!text.contains("TAVORA PATHOLOGY")); // plain: the letter-head band is empty
}

void TestReports::every_report_file_renders_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("seeded");
    const QStringList files = shipped_reports();
    QCOMPARE(files.size(), 29);
    for (const QString& f : files) {
        // The cumulative report reads the scratch tables its window fills: tested there.
        if (f.contains("cumulative")) continue;
        QTest::newRow(qPrintable(f + " empty")) << f << false;
        QTest::newRow(qPrintable(f + " seeded")) << f << true;
    }
}

void TestReports::every_report_file_renders() {
    QFETCH(QString, file);
    QFETCH(bool, seeded);
    // Which test a file prints: its name without "h_", letter case aside.
    QString base = file;
    base.remove(QRegularExpression("^h_ ?")).chop(4);
    const bool consolidated = base == "consolidated_report", empty = base == "empty";
    const QString table = known_table(base);
    if (consolidated) QVERIFY(fill_consolidated(1).ok()); // the build that comes before its print
    if (seeded && !empty) {
        const QString test = QString(table).replace('_', ' ');
        seed_report(1, 1, consolidated ? "Serology" : test, consolidated ? "Serology" : table,
                    {{"Material", "Urine"}, {"AMIKACIN", "S"}, {"R.B.C.", "are normocytic."}});
        if (consolidated)
            QVERIFY(
                add_row("temp", {{"test_table", "Serology"}, {"lab_id", 1}, {"item", "RA"}, {"result", "+"}})
                    .ok());
    }
    std::optional<QString> formula;
    if (!consolidated && !empty) formula = "{test_main.lab_ID} = 1";
    const Prepared p = prepare(file, formula);
    QVERIFY2(p.report, qPrintable(p.error));
    const QString pdf = out_.filePath(QString(file).replace(' ', '_') + ".pdf");
    QVERIFY(write_pdf(*p.report, pdf).isEmpty());
    QVERIFY(QFile(pdf).size() > 1000);
    QCOMPARE(QFile::permissions(pdf) & 0x0777, QFileDevice::Permissions(0x0640)); // patient data
    // The consolidated report prints the patient in its header band, on every page.
    if (seeded && !empty) QVERIFY((p.report->body_html + p.report->header_html).contains("Souza"));
    if (seeded) compare_with_reference_page(file, pdf);
}

void TestReports::title_is_printed_at_its_size() {
    seed_report(12, 7, "Blood sugar report", "blood_sugar_report", {{"Fasting urine sugar", "Nil"}});
    const Prepared p = prepare("h_blood_sugar_report.rpt", "{test_main.lab_ID} = 12");
    QVERIFY(p.report);
    const QString pdf = out_.filePath("title.pdf");
    QVERIFY(write_pdf(*p.report, pdf).isEmpty());
    const QString info = run_tool("pdfinfo", {pdf});
    QVERIFY2(info.contains("A4"), qPrintable(info));
    QVERIFY(info.contains(QRegularExpression("Pages:\\s+1\\n")));
    QVERIFY(info.contains("Blood sugar report"));
    // Word boxes: the title is set in 16 pt and the body in 10 pt.
    const QString boxes = run_tool("pdftotext", {"-bbox", pdf, "-"});
    auto height_of = [&](const QString& word) {
        const QRegularExpression re(
            QString("yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" yMax=\"([0-9.]+)\">%1<").arg(word));
        const QRegularExpressionMatch m = re.match(boxes);
        return m.hasMatch() ? m.captured(2).toDouble() - m.captured(1).toDouble() : 0.0;
    };
    const double title = height_of("SUGAR"), body = height_of("Fasting");
    QVERIFY2(title > 0 && body > 0, qPrintable(boxes.left(400)));
    QVERIFY2(qAbs(title / body - 1.6) < 0.15,
             qPrintable(QString("title %1 pt, body %2 pt").arg(title).arg(body)));
    QVERIFY2(title > 15 && title < 22, qPrintable(QString("title %1 pt").arg(title)));
}

// A build holds the database's write lock from filling temp to reading it
// back: another workstation's build waits for it, on a file as on a server.
void TestReports::consolidated_builds_of_two_workstations_never_mix() {
    set_today_for_tests(QDate(2026, 12, 9));
    seed_report(5, 1, "Serology", "Serology", {{"ASLO", "Positive"}}, "First");
    seed_report(6, 2, "Serology", "Serology", {{"ASLO", "Negative"}}, "Second");
    QSqlDatabase other = folder_->other_workstation();
    auto temp_rows = [] {
        QStringList out;
        for (const Row& r : select_rows("SELECT lab_id, result FROM temp ORDER BY lab_id").value)
            out << r.text(0) + " " + r.text(1);
        return out;
    };
    for (qint64 patient : {1, 2}) {
        QStringList read_back;
        DbError waited;
        const DbError e = in_transaction([&]() -> DbError {
            if (DbError fill = fill_consolidated(patient); !fill.ok()) return fill;
            waited = take_write_lock_at_once(other); // the other workstation's build starting now
            QSqlQuery(other).exec("ROLLBACK");
            read_back = temp_rows();
            return {};
        });
        QVERIFY2(e.ok(), qPrintable(e.description));
        QVERIFY2(waited.busy(), qPrintable(waited.description));
        QCOMPARE(read_back, QStringList{patient == 1 ? "5 Positive" : "6 Negative"});
    }
    set_today_for_tests({});
}

void TestReports::consolidated_report_has_a_section_per_report() {
    seed_report(3, 4, "Routine haemotology", "Routine_haemotology", {});
    seed_report(4, 4, "Blood sugar report", "blood_sugar_report", {});
    QVERIFY(fill_consolidated(4).ok());
    const Fields rows[] = {
        {{"test_table", "Routine_haemotology"}, {"lab_id", 3}, {"item", "Polymorphs"}, {"result", "60%"}},
        {{"test_table", "Routine_haemotology"}, {"lab_id", 3}, {"item", "Lymphocytes"}, {"result", "30%"}},
        {{"test_table", "Blood_sugar_report"},
         {"lab_id", 4},
         {"item", "Random urine sugar"},
         {"result", "Nil"}},
    };
    for (const Fields& r : rows)
        QVERIFY(add_row("temp", r).ok());
    app_state().print_with_header = true;
    const ReportRequest request = consolidated_report_request();
    ReportsReadSharedConnection with_build;
    const Prepared p = prepare_report(request, folder_->database_path());
    QVERIFY2(p.report, qPrintable(p.error));
    const QString text = pdf_text(*p.report, "consolidated.pdf");
    const qsizetype haem = text.indexOf("Routine haemotology · Lab ID 3");
    const qsizetype sugar = text.indexOf("Blood sugar report · Lab ID 4");
    QVERIFY2(haem > 0 && sugar > haem, qPrintable(text));
    QCOMPARE(text.count("Asha D'Souza"), 1); // the patient once
    QVERIFY(text.indexOf("Lymphocytes") > haem && text.indexOf("Lymphocytes") < sugar);
    QVERIFY(text.indexOf("Random urine sugar") > sugar);

    // Its sign-off: "Pathologist" while a report is not verified, each
    // verified section naming its verifier; one signature when one
    // pathologist verified them all. Plain and letter-head alike.
    QVERIFY(add_user(database().value, kStaff,
                     {"meera", "Dr. Meera Rao", "MD (Pathology)", Role::Pathologist}, "Slide-42 stain")
                .ok());
    auto signed_text = [&](bool header) {
        app_state().print_with_header = header;
        const Prepared made = prepare_report(consolidated_report_request(), folder_->database_path());
        return made.report ? pdf_text(*made.report, "consolidated.pdf").simplified() : made.error;
    };
    QVERIFY(add_row("report_signoff",
                    {{"lab_id", 3}, {"verified_by", "meera"}, {"verified_at", "2026-12-09T11:00:00"}})
                .ok());
    for (bool header : {true, false}) {
        const QString partly = signed_text(header);
        QCOMPARE(partly.count("Verified by Dr. Meera Rao"), 1);
        QVERIFY2(partly.contains("Pathologist"), qPrintable(partly));
    }
    QVERIFY(add_row("report_signoff",
                    {{"lab_id", 4}, {"verified_by", "meera"}, {"verified_at", "2026-12-09T11:05:00"}})
                .ok());
    for (bool header : {true, false}) {
        const QString all = signed_text(header);
        QVERIFY2(all.contains("Dr. Meera Rao, MD (Pathology) Verified"), qPrintable(all));
        QVERIFY(!all.contains("Pathologist") && !all.contains("Verified by"));
    }
    app_state().print_with_header = false;
}

// However many reports a patient had, and however many rows each, the last
// page of the consolidated report carries the last report's final rows above
// the signature, and no page is left without rows, on plain paper and on the
// letter-head. The counts are ones that once ended on a page holding only the
// patient's box and the signature.
void TestReports::a_last_page_never_holds_only_the_signature() {
    set_today_for_tests(QDate(2026, 12, 9));
    const std::pair<const char*, const char*> tests[] = {
        {"Routine haemotology", "Routine_haemotology"},
        {"Blood sugar report", "blood_sugar_report"},
        {"Serology", "Serology"},
        {"Widal test", "widal_test"},
        {"Urinalysis", "urinalysis"},
        {"Stool routine", "stool_routine"},
        {"RBC indices", "RBC_indices"},
        {"Prothrombin time", "prothrombin_time"},
        {"Thyroid hormone profile", "Thyroid_hormone_profile"},
        {"Biochemistry report", "biochemistry_report"},
    };
    const struct {
        int reports, rows;
    } cases[] = {{10, 3}, {10, 6}, {10, 8}, {10, 12}, {1, 30}, {1, 54}, {1, 58}};
    QStringList failures;
    int lab_id = 0, patient = 0;
    for (const auto& c : cases) {
        ++patient;
        for (int r = 0; r < c.reports; ++r) {
            QList<std::pair<QString, QString>> items;
            for (int i = 1; i <= c.rows; ++i)
                items.append({QString("Item %1 of lab %2").arg(i).arg(lab_id + 1), "4.5"});
            seed_report(++lab_id, patient, tests[r].first, tests[r].second, items, "Ravi Kumar");
        }
        QVERIFY(fill_consolidated(patient).ok());
        for (bool header : {false, true}) {
            app_state().print_with_header = header;
            ReportsReadSharedConnection with_build;
            const Prepared p = prepare_report(consolidated_report_request(), folder_->database_path());
            QVERIFY2(p.report, qPrintable(p.error));
            QStringList pages = pdf_text(*p.report, "consolidated.pdf").split(u'\f');
            while (!pages.isEmpty() && pages.last().trimmed().isEmpty())
                pages.removeLast();
            const QString kind = QString("%1 reports of %2 rows, %3")
                                     .arg(c.reports)
                                     .arg(c.rows)
                                     .arg(header ? "letter-head" : "plain");
            QVERIFY2(!pages.isEmpty(), qPrintable(kind));
            if (!pages.last().contains(QString("Item %1 of lab %2").arg(c.rows).arg(lab_id)) ||
                !pages.last().contains("Pathologist"))
                failures << kind + QString(": the last of %1 pages").arg(pages.size());
            for (int n = 0; n < pages.size(); ++n)
                if (!pages[n].contains("Item "))
                    failures << kind + QString(": page %1 of %2 has no rows").arg(n + 1).arg(pages.size());
        }
    }
    app_state().print_with_header = false;
    set_today_for_tests({});
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

void TestReports::a_verified_report_is_signed_by_its_verifier_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "Serology.rpt";
    QTest::newRow("letter-head") << "h_ serology.rpt";
}

// Below its results a critical report says whether its doctor was called:
// not yet, then to whom, by whom, when and whether the values were read back.
void TestReports::a_critical_report_prints_its_call() {
    QFETCH(QString, file);
    seed_report(1, 1, "Serology", "Serology", {{"ASLO (N : Negative)", "Positive"}});
    seed_report(2, 1, "Serology", "Serology", {{"ASLO (N : Negative)", "Negative"}});
    const QString findings = "ASLO Positive (critical)";
    QVERIFY(add_row("critical_calls",
                    {{"lab_id", 1}, {"findings", findings}, {"raised_at", "2026-12-09T10:00:00"}})
                .ok());
    auto page = [&](qint64 lab) {
        const Prepared p =
            prepare_report({folder_->path() + "\\" + file, lab_id_selection(lab)}, folder_->database_path());
        return p.report ? pdf_text(*p.report, "critical.pdf").simplified() : p.error;
    };
    // The consolidated report of the same paper says it in the critical report's section only.
    set_today_for_tests(QDate(2026, 12, 9));
    app_state().print_with_header = file.startsWith("h_");
    auto consolidated = [&](const QString& line) {
        if (!fill_consolidated(1).ok()) return QString("not built");
        ReportsReadSharedConnection with_build;
        const Prepared p = prepare_report(consolidated_report_request(), folder_->database_path());
        if (!p.report) return p.error;
        const QString text = pdf_text(*p.report, "consolidated.pdf").simplified();
        const qsizetype at = text.indexOf(line);
        return text.count(line) == 1 && at > text.indexOf("Lab ID 1") && at < text.indexOf("Lab ID 2")
                   ? QString()
                   : text;
    };
    const QString not_yet = "Critical value: call not yet recorded";
    const QString called = "Critical value called to Dr. Iyer by Asha at 10 Dec 2026 14:05 (read back)";
    QVERIFY2(page(1).contains(not_yet), qPrintable(page(1)));
    QVERIFY(!page(2).contains("Critical value")); // no critical result: no line
    QVERIFY2(consolidated(not_yet).isEmpty(), qPrintable(consolidated(not_yet)));
    QVERIFY(record_critical_call(kStaff, 1, findings,
                                 {"Asha", "Dr. Iyer", "2026-12-10T14:05:00", /*read_back=*/true})
                .ok());
    QVERIFY2(page(1).contains(called), qPrintable(page(1)));
    QVERIFY2(consolidated(called).isEmpty(), qPrintable(consolidated(called)));
    app_state().print_with_header = false;
    set_today_for_tests({});
}

void TestReports::a_verified_report_is_signed_by_its_verifier() {
    QFETCH(QString, file);
    seed_report(1, 1, "Serology", "Serology", {{"ASLO (N : Negative)", "Negative"}});
    seed_report(2, 1, "Serology", "Serology", {{"ASLO (N : Negative)", "Positive"}});
    QVERIFY(add_user(database().value, kStaff,
                     {"meera", "Dr. Meera O'Neil", "MD (Pathology)", Role::Pathologist}, "Slide-42 stain")
                .ok());
    QVERIFY(verify_report(Actor{"meera", Role::Pathologist}, *report_snapshot("Serology", 1).value).ok());
    for (qint64 lab : {1, 2}) {
        const Prepared p =
            prepare_report({folder_->path() + "\\" + file, lab_id_selection(lab)}, folder_->database_path());
        QVERIFY2(p.report, qPrintable(p.error));
        const QString text = pdf_text(*p.report, "signed.pdf").simplified();
        if (lab == 1) {
            QVERIFY2(text.contains("Dr. Meera O'Neil, MD (Pathology)"), qPrintable(text));
            QVERIFY2(text.contains("Verified " + display_date(QDate::currentDate())), qPrintable(text));
            QVERIFY(!text.contains("Pathologist"));
        } else { // not verified: as it always printed
            QVERIFY(text.contains("Pathologist"));
            QVERIFY(!text.contains("Meera") && !text.contains("Verified") && !text.contains("Provisional"));
        }
    }
    // Where the laboratory requires verification, an unverified report says it is provisional.
    QVERIFY(set_setting(database().value, kRequireVerification, "on").ok());
    for (qint64 lab : {1, 2}) {
        const Prepared p =
            prepare_report({folder_->path() + "\\" + file, lab_id_selection(lab)}, folder_->database_path());
        const QString text = pdf_text(*p.report, "signed.pdf").simplified();
        QCOMPARE(text.contains(QString::fromUtf8("Provisional report \u2014 not yet verified")), lab == 2);
        QCOMPARE(text.contains("Pathologist"), false);
        QCOMPARE(text.contains("Dr. Meera O'Neil"), lab == 1);
    }
}

void TestReports::engine_keeps_and_replaces_its_settings() {
    QList<ReportRequest> log;
    record_report_runs([&log](const ReportRequest& request) {
        log << request;
        return QString();
    });
    auto engine = make_report_engine();
    record_report_runs(nullptr);
    QVERIFY(run_report(*engine, test_report_request(catalogue::kSerology, 5)).isEmpty());
    QVERIFY(run_report(*engine, test_report_request(catalogue::kSerology, 5)).isEmpty());
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[1].selection->text(), QString("{test_main.lab_ID} = 5"));
    QCOMPARE(engine->selection()->text(), QString("{test_main.lab_ID} = 5"));
    run_report(*engine, empty_report_request());
    QVERIFY(!engine->selection()); // nothing of the earlier run carries over
    QCOMPARE(engine->file_name(), QString("empty.rpt"));
}

void TestReports::preview_appears_only_when_the_report_can_print() {
    auto previews = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QPrintPreviewDialog*>(w) && w->isVisible()) ++n;
        return n;
    };
    seed_report(8, 2, "Widal test", "widal_test", {{"S typh1 \"O\"", "1:160"}});
    PreviewEngine engine;
    QFile::remove(folder_->path() + "/h_widal_test.rpt");
    app_state().print_with_header = true;
    const QString failure = run_report(engine, test_report_request(catalogue::kWidalTest, 8));
    QVERIFY(failure.contains("h_widal_test.rpt"));
    QCOMPARE(previews(), 0);

    app_state().print_with_header = false;
    QVERIFY(run_report(engine, test_report_request(catalogue::kWidalTest, 8)).isEmpty());
    QCOMPARE(previews(), 1);
    QPrintPreviewDialog* preview = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QPrintPreviewDialog*>(w)) preview = d;
    QVERIFY(!preview->isModal());
    QAction* save = preview->findChild<QAction*>("save_as_pdf");
    QVERIFY(save);
    // "Save as PDF" suggests the user's documents folder, made when missing.
    QTemporaryDir home;
    const QByteArray real_home = qgetenv("HOME"), real_config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    QString suggested;
    const QString target = out_.filePath("saved.pdf");
    set_save_file_handler([&](const QString&, const QString& s) {
        suggested = s;
        return target;
    });
    save->trigger();
    set_save_file_handler(nullptr);
    qputenv("HOME", real_home);
    if (!real_config.isEmpty()) qputenv("XDG_CONFIG_HOME", real_config);
    QCOMPARE(QFileInfo(suggested).absolutePath(), home.filePath("Documents"));
    QVERIFY(QFileInfo(home.filePath("Documents")).isDir());
    QVERIFY(suggested.endsWith("8 Asha D'Souza Widal test 9 Dec 2026.pdf") ||
            suggested.contains("8 Asha D'Souza Widal test"));
    QVERIFY(run_tool("pdftotext", {target, "-"}).contains("1:160"));
}

void TestReports::on_a_server_report_queries_read_only_the_laboratory_tables_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("delete patients") << "DELETE FROM registration";
    QTest::newRow("add a doctor") << "INSERT INTO doctors (name) VALUES ('x') RETURNING name";
    QTest::newRow("a second statement") << "SELECT 1; DELETE FROM registration";
    QTest::newRow("make a table") << "CREATE TABLE made (x int)";
    QTest::newRow("a server file") << "SELECT pg_read_file('postgresql.conf')";
    QTest::newRow("the password hashes") << "SELECT password_hash FROM users";
    QTest::newRow("the login's own role back") << "SELECT set_config('role', 'tavora_test', true)";
    QTest::newRow("the same, spelt in escapes")
        << "SELECT U&\"\\0073et_config\"('role', 'tavora_test', true)";
}

void TestReports::on_a_server_report_queries_read_only_the_laboratory_tables() {
    if (!testing_on_server()) QSKIP("a server's own rule");
    QFETCH(QString, sql);
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Kept", "", "")).ok());
    const QString file = one_query_report(folder_->path(), sql);
    // On a connection of its own, and on the program's (as a build reads its
    // scratch tables back), outside a transaction.
    for (const bool shared : {false, true}) {
        std::optional<ReportsReadSharedConnection> on_shared;
        if (shared) on_shared.emplace();
        const Prepared p = prepare_report({file, std::nullopt}, folder_->database_path());
        QVERIFY2(!p.report, qPrintable(sql));
        QVERIFY2(p.error.contains("evil.rpt"), qPrintable(p.error));
    }
    QCOMPARE(select_rows("select * from registration").value.size(), 1);
    QCOMPARE(select_rows("select * from doctors").value.size(), 0);
    // The connection is the program's own again: it writes.
    QVERIFY(add_row("doctors", {{"name", "Dr. Rao"}}).ok());
}

TAVORA_TEST_MAIN(TestReports)
#include "test_reports.moc"
