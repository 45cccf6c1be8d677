// Orders: tests ordered before any result, the sample's labelled number
// (decoded back from the rendered label), the waiting list, the result
// screen the order fills, the report linked back to it, and how long each
// test took.
#include "test_support.h"

#include "analyzer_results.h"
#include "app_state.h"
#include "boxes.h"
#include "core_tables.h"
#include "file_dialogs.h"
#include "lab_reports.h"
#include "label.h"
#include "label_printing.h"
#include "order_window.h"
#include "orders.h"
#include "orders_waiting.h"
#include "pending_window.h"
#include "records.h"
#include "registration_screen.h"
#include "report_engine.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "start.h"
#include "turnaround_window.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>

namespace {

OrderRequest order_of(qint64 patient, QList<const Investigation*> tests, Priority p = Priority::Routine) {
    OrderRequest o;
    o.patient_id = patient;
    o.ref_by = "Dr. R. Menon";
    o.tests = std::move(tests);
    o.priority = p;
    return o;
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) return "(did not finish)";
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class TestOrders : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;
    QList<QList<LabelContent>> printed_;

    // The database as the admin tool is given it: the file, or the server's URL.
    QString db() const { return testing_on_server() ? folder_->server_url() : folder_->database_path(); }
    void add_patients() {
        QVERIFY(add_patient(kStaff, minimal_patient(7, "Asha D'Souza", "34", "F")).ok());
        QVERIFY(add_patient(kStaff, minimal_patient(8, "Ravi Kumar", "61", "M")).ok());
    }

private slots:
    void initTestCase() { install_screens(); }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
        app_state() = {};
        printed_.clear();
        set_label_printer([this](const QList<LabelContent>& labels, QWidget*) { printed_ << labels; });
        record_report_runs([](const ReportRequest&) { return QString(); });
        add_patients();
    }
    void cleanup() {
        close_screens();
        set_label_printer({});
        record_report_runs({});
        messages_.reset();
        folder_.reset();
    }

    void an_order_takes_one_accession_per_sample_kind();
    void accessions_are_never_given_twice_nor_again();
    void the_waiting_list_puts_urgent_first_then_oldest();
    void the_label_reads_back_through_a_barcode_decoder();
    void turnaround_figures_from_fixed_times();
    void ordered_tests_are_resulted_from_the_waiting_list();
    void an_analyzer_result_for_an_accession_lands_on_its_order();
    void a_long_waiting_list_is_read_as_it_is_scrolled();
    void registration_offers_order_tests_once_the_laboratory_orders();
};

void TestOrders::an_order_takes_one_accession_per_sample_kind() {
    using namespace catalogue;
    const auto placed = place_order(
        kStaff, order_of(7, {&kUrinalysis, &kSerology, &kBiochemistryReport, &kRoutineHaemotology}));
    QVERIFY2(placed.ok(), qPrintable(placed.error.description));
    QCOMPARE(placed.value, (QList<qint64>{1, 2, 3})); // serum, blood, urine: the catalogue's order of kinds
    const auto serum = ordered_sample(1).value;
    QVERIFY(serum);
    QCOMPARE(serum->sample, SampleKind::Serum);
    QCOMPARE(serum->tests, (QList<const Investigation*>{&kBiochemistryReport, &kSerology}));
    QCOMPARE(serum->patient_name, QString("Asha D'Souza"));
    QCOMPARE(ordered_sample(3).value->tests, (QList<const Investigation*>{&kUrinalysis}));
    // Refused with a reason, nothing stored: no test, nobody registered, no right.
    const struct {
        Actor who;
        OrderRequest order;
        QString reason;
    } refusals[] = {
        {kStaff, order_of(7, {}), "No test is ticked."},
        {kStaff, order_of(99, {&kSerology}), "Patient ID does not exist"},
        {Actor{}, order_of(7, {&kSerology}), "ordering tests needs a reception account"},
    };
    for (const auto& r : refusals) {
        const auto refused = place_order(r.who, r.order);
        QVERIFY2(!refused.ok() && refused.error.description.contains(r.reason),
                 qPrintable(refused.error.description));
    }
    QCOMPARE(number_of("SELECT count(*) FROM orders"), 3);
    QCOMPARE(accession_number(" a12 "), std::optional<qint64>(12));
    QCOMPARE(accession_number("A0"), std::nullopt);
    QCOMPARE(accession_number("12A"), std::nullopt);
}

void TestOrders::accessions_are_never_given_twice_nor_again() {
    using namespace catalogue;
    QCOMPARE(place_order(kStaff, order_of(7, {&kSerology})).value, QList<qint64>{1});
    // Another workstation takes the next number of the series meanwhile.
    QSqlDatabase other = folder_->other_workstation();
    QSqlQuery q(other);
    QVERIFY(q.exec("UPDATE settings SET value = CAST(CAST(value AS INTEGER) + 1 AS TEXT) "
                   "WHERE name = 'accession-last'"));
    QCOMPARE(place_order(kStaff, order_of(8, {&kSerology})).value, QList<qint64>{3});
    // An order that fails gives no number away; one removed leaves its number unused.
    QVERIFY(!place_order(kStaff, order_of(99, {&kSerology})).ok());
    QVERIFY(execute("DELETE FROM order_tests WHERE accession = 3").ok());
    QVERIFY(execute("DELETE FROM order_samples WHERE accession = 3").ok());
    QVERIFY(execute("DELETE FROM orders WHERE accession = 3").ok());
    QCOMPARE(place_order(kStaff, order_of(8, {&kSerology})).value, QList<qint64>{4});
    // A laboratory's lab ids are their own: still the largest + 1.
    const auto lab = reserve_next_id(IdKind::Lab, 0);
    QCOMPARE(lab.value, 1);
    release_reserved_id(IdKind::Lab, lab.value);
}

void TestOrders::the_waiting_list_puts_urgent_first_then_oldest() {
    using namespace catalogue;
    for (const auto& [patient, priority, at] :
         {std::tuple{7, "routine", "2026-12-10T08:00:00"}, std::tuple{8, "routine", "2026-12-10T07:00:00"},
          std::tuple{7, "urgent", "2026-12-10T09:00:00"}}) {
        static int accession = 0;
        ++accession;
        QVERIFY(add_row("orders", {{"accession", accession},
                                   {"patient_id", patient},
                                   {"priority", priority},
                                   {"ordered_at", at}})
                    .ok());
        QVERIFY(add_row("order_samples", {{"accession", accession}, {"sample_kind", "serum"}}).ok());
        QVERIFY(add_row("order_tests", {{"accession", accession}, {"test", "Serology"}}).ok());
    }
    auto order_of_list = [] {
        QList<qint64> a;
        for (const OrderedSample& s : waiting_samples().value)
            a << s.accession;
        return a;
    };
    QCOMPARE(order_of_list(), (QList<qint64>{3, 2, 1}));
    // A page of the list, in the same order.
    QCOMPARE(waiting_count().value, 3);
    const auto page = waiting_samples(2, 1).value;
    QCOMPARE(page.size(), 2);
    QCOMPARE(page[0].accession, 2);
    QCOMPARE(page[1].accession, 1);
    QCOMPARE(page[1].waiting, QList<const Investigation*>{&kSerology});
    QVERIFY(in_transaction([] { return link_report(2, &kSerology, 40); }).ok());
    QCOMPARE(order_of_list(), (QList<qint64>{3, 1}));
    // The same test is never resulted twice; a test the order lacks is named.
    QCOMPARE(link_report(2, &kSerology, 41).kind, DbError::Kind::Changed);
    QCOMPARE(link_report(2, &kUrinalysis, 41).kind, DbError::Kind::NotFound);
    // Received once: a second scan keeps the first time.
    QVERIFY(mark_received(kStaff, 1).ok());
    const QString first = ordered_sample(1).value->received_at;
    QVERIFY(!first.isEmpty());
    QVERIFY(execute("UPDATE order_samples SET received_at = '2026-12-10T10:00:00' WHERE accession = 1").ok());
    QVERIFY(mark_received(kStaff, 1).ok());
    QCOMPARE(ordered_sample(1).value->received_at, QString("2026-12-10T10:00:00"));
    QCOMPARE(mark_collected(kStaff, 99).kind, DbError::Kind::NotFound);
}

void TestOrders::the_label_reads_back_through_a_barcode_decoder() {
    using namespace catalogue;
    const auto placed =
        place_order(kStaff, order_of(7, {&kUrinalysis, &kBiochemistryReport}, Priority::Urgent));
    QCOMPARE(placed.value, (QList<qint64>{1, 2}));
    QTemporaryDir out;
    // The admin tool's label, as a script would print it, at the default 50 x 25 mm.
    const QString pdf = out.filePath("A2.pdf");
    const Run made = admin({"label", "--accession", "A2", "--db", db(), "--pdf", pdf});
    QVERIFY2(made.exit_code == 0, qPrintable(made.err));
    QCOMPARE(run("pdfinfo", {pdf}).contains(QRegularExpression("Page size:\\s+142 x 71 pts")), true);
    // Rendered at a label printer's 300 dpi, read by zbar's decoder.
    QVERIFY(run("pdftoppm", {"-r", "300", "-png", "-singlefile", pdf, out.filePath("A2")}).isEmpty());
    QCOMPARE(run("zbarimg", {"--raw", "-q", out.filePath("A2.png")}), QString("A2"));
    const QString text = pdf_to_text(pdf);
    for (const char* word : {"A2", "Asha D'Souza", "ID 7", "34 / F", "urine", "URINE", "URGENT"})
        QVERIFY2(text.contains(word), qPrintable(text));
    // A label stock of its own size; an accession without an order is named.
    QFile ini(folder_->path() + "/tavora-lab.ini");
    QVERIFY(ini.open(QIODevice::Append));
    ini.write("\n[labels]\nwidth-mm=38\nheight-mm=19\n");
    ini.close();
    QCOMPARE(label_size().width_mm, 38.0);
    QVERIFY(write_labels_pdf({sample_label(*ordered_sample(1).value)}, label_size(), pdf).isEmpty());
    QVERIFY(run("pdftoppm", {"-r", "300", "-png", "-singlefile", pdf, out.filePath("A1")}).isEmpty());
    QCOMPARE(run("zbarimg", {"--raw", "-q", out.filePath("A1.png")}), QString("A1"));
    const Run missing = admin({"label", "--accession", "A9", "--db", db(), "--pdf", pdf});
    QVERIFY(missing.exit_code != 0 && missing.err.contains("there is no order A9"));
}

void TestOrders::turnaround_figures_from_fixed_times() {
    // Three Serology orders resulted 30, 60 and 120 minutes after ordering,
    // two of them verified 15 and 45 minutes after; the urgent one apart.
    const struct {
        int accession;
        const char* priority;
        const char* entered;
        const char* verified;
    } rows[] = {
        {1, "routine", "08:30", "08:45"}, {2, "urgent", "09:00", ""}, {3, "routine", "10:00", "10:45"}};
    for (const auto& r : rows) {
        QVERIFY(add_row("orders", {{"accession", r.accession},
                                   {"patient_id", 7},
                                   {"priority", r.priority},
                                   {"ordered_at", "2026-12-09T08:00:00"}})
                    .ok());
        QVERIFY(add_row("order_tests",
                        {{"accession", r.accession}, {"test", "Serology"}, {"lab_id", r.accession}})
                    .ok());
        const QString verified = *r.verified ? QString("2026-12-09T%1:00").arg(r.verified) : QString("");
        QVERIFY(add_row("report_signoff", {{"lab_id", r.accession},
                                           {"entered_by", "tamor"},
                                           {"entered_at", QString("2026-12-09T%1:00").arg(r.entered)},
                                           {"verified_by", verified.isEmpty() ? "" : "meera"},
                                           {"verified_at", verified}})
                    .ok());
    }
    const auto all = turnaround(QDate(2026, 12, 9), QDate(2026, 12, 9));
    QVERIFY(all.ok());
    QCOMPARE(all.value.size(), 1);
    const Turnaround& t = all.value.first();
    QCOMPARE(t.test, &catalogue::kSerology);
    QCOMPARE(
        (std::vector<double>{double(t.resulted), t.ordered_to_resulted_median, t.ordered_to_resulted_p90,
                             double(t.verified), t.resulted_to_verified_median, t.resulted_to_verified_p90}),
        (std::vector<double>{3, 60, 120, 2, 30, 45}));
    QCOMPARE(turnaround(QDate(2026, 12, 9), QDate(2026, 12, 9), true).value.first().resulted, 1);
    QVERIFY(turnaround(QDate(2026, 12, 10), QDate(2026, 12, 11)).value.isEmpty());
    // The Turnaround window shows the same, the urgent orders apart.
    auto* window = qobject_cast<TurnaroundWindow*>(screens::open(kTurnaroundScreen));
    QVERIFY(window);
    window->set_period(QDate(2026, 12, 9), QDate(2026, 12, 9));
    window->show_period();
    auto row = [](QTableWidget* table) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << (table->item(0, c) ? table->item(0, c)->text() : QString("(none)"));
        return cells.join(' ').trimmed();
    };
    QCOMPARE(row(window->all()), QString("Serology 3 60 120 2 30 45"));
    QCOMPARE(row(window->urgent()), QString("Serology 1 60 60 0"));
    const Run printed = admin({"tat", "--from", "2026-12-09", "--to", "2026-12-09", "--db", db()});
    QVERIFY2(printed.exit_code == 0, qPrintable(printed.err));
    QVERIFY2(printed.out.simplified().contains("Serology 3 60 120 2 30 45"), qPrintable(printed.out));
    QVERIFY2(printed.out.simplified().contains("Urgent orders test resulted median p90 verified median p90 "
                                               "Serology 1 60 60 0 0 0"),
             qPrintable(printed.out));
}

void TestOrders::ordered_tests_are_resulted_from_the_waiting_list() {
    // The front desk orders from the keyboard.
    auto* window = qobject_cast<OrderWindow*>(screens::open(kOrderTestsScreen));
    QVERIFY(window);
    show_active(window);
    auto* patient_id = window->findChild<QLineEdit*>("patient_id");
    QVERIFY(patient_id->hasFocus());
    QTest::keyClicks(patient_id, "7");
    QTest::keyClick(patient_id, Qt::Key_Tab); // left: looked up
    QVERIFY(window->findChild<QLabel*>("patient")->text().contains("Asha D'Souza · 34 / F"));
    for (const Investigation* t :
         {&catalogue::kSerology, &catalogue::kBiochemistryReport, &catalogue::kUrinalysis})
        window->test_box(t)->setChecked(true);
    window->findChild<QComboBox*>("doctor")->setEditText("Dr. Iyer");
    window->findChild<QComboBox*>("priority")->setCurrentIndex(1);
    messages_->answer(MessageAnswer::Yes);
    QTest::mouseClick(window->findChild<QPushButton*>("save"), Qt::LeftButton);
    QCOMPARE(messages_->texts(), QStringList{"Order saved: A1 (serum), A2 (urine). Print the labels?"});
    QCOMPARE(printed_.size(), 1);
    QCOMPARE(printed_[0].size(), 2);
    QCOMPARE(printed_[0][0].tests, QString("BIOCHEM SERO"));
    QVERIFY(window->findChild<QLineEdit*>("patient_id")->text().isEmpty()); // ready for the next patient
    messages_->clear();

    // The bench scans the serum tube and opens its first test.
    auto* waiting = qobject_cast<OrdersWaitingWindow*>(screens::open(kOrdersWaitingScreen));
    show_active(waiting);
    QCOMPARE(waiting->table()->rowCount(), 2);
    waiting->findChild<QCheckBox*>("marks_received")->setChecked(true);
    auto* scan = waiting->findChild<QLineEdit*>("scan");
    QTest::keyClicks(scan, "A1");
    QTest::keyClick(scan, Qt::Key_Return);
    QCOMPARE(waiting->table()->currentRow(), 0);
    QVERIFY(!waiting->table()->item(0, 7)->text().isEmpty()); // received, now
    QTest::keyClick(waiting->table(), Qt::Key_Return);
    auto* bio = qobject_cast<TestScreen*>(screens::find(catalogue::kBiochemistryReport.screen));
    QVERIFY(bio);
    QCOMPARE(bio->workflow().form().patient_id, QString("7"));
    QVERIFY(!bio->workflow().form().patient_id_open);
    QCOMPARE(bio->workflow().form().name, QString("Asha D'Souza"));
    QCOMPARE(bio->workflow().form().doctor, QString("Dr. Iyer"));
    QCOMPARE(bio->focusWidget(), bio->result_box(0)); // the results are what is left to type
    const QString lab_id = bio->workflow().form().lab_id;
    set_box_text(bio->result_box(0), "95");
    bio->save();
    QVERIFY2(messages_->texts().contains("New report added"), qPrintable(messages_->texts().join('|')));
    QCOMPARE(number_of("SELECT lab_id FROM order_tests WHERE accession = 1 AND test = 'Biochemistry report'"),
             lab_id.toInt());
    // Ctrl+L on the screen: the saved report's own label, its barcode the lab id.
    printed_.clear();
    show_active(bio);
    QTest::keyClick(bio, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(printed_.size(), 1);
    QCOMPARE(printed_[0][0].code, lab_id);
    QCOMPARE(printed_[0][0].patient_line, QString("ID 7 · 34 / F"));
    QCOMPARE(printed_[0][0].sample + " " + printed_[0][0].tests, QString("serum BIOCHEM"));
    // Its first print (here saved as a PDF from the preview) is its last step; a second keeps the first.
    {
        auto printed_at = [&] {
            return select_first("SELECT first_printed_at FROM order_tests WHERE lab_id = ?", {lab_id})
                .value->text(0);
        };
        QCOMPARE(printed_at(), QString());
        QVERIFY(QFile::copy(REPORT_FILES_DIR "/biochemistry_report.rpt",
                            folder_->path() + "/biochemistry_report.rpt"));
        PreviewEngine engine;
        QVERIFY(run_report(engine, test_report_request(catalogue::kBiochemistryReport, lab_id.toLongLong()))
                    .isEmpty());
        QPrintPreviewDialog* preview = shown_preview();
        QVERIFY(preview);
        QTemporaryDir out;
        set_save_file_handler([&](const QString&, const QString&) { return out.filePath("report.pdf"); });
        preview->findChild<QAction*>("save_as_pdf")->trigger();
        QVERIFY(!printed_at().isEmpty());
        QVERIFY(execute("UPDATE order_tests SET first_printed_at = '2026-12-10T09:00:00' WHERE lab_id = " +
                        lab_id)
                    .ok());
        preview->findChild<QAction*>("save_as_pdf")->trigger();
        set_save_file_handler(nullptr);
        QCOMPARE(printed_at(), QString("2026-12-10T09:00:00"));
        preview->close();
    }
    bio->close();
    settle();

    // Serology next, from the same row; then the serum tube leaves the list.
    waiting->refresh();
    QCOMPARE(waiting->table()->item(0, 4)->text(), QString("Serology"));
    waiting->open_first_waiting();
    auto* sero = qobject_cast<TestScreen*>(screens::find(catalogue::kSerology.screen));
    QVERIFY(sero);
    set_box_text(sero->result_box(0), "Negative");
    sero->save();
    waiting->refresh();
    QCOMPARE(waiting->table()->rowCount(), 1);
    QCOMPARE(waiting->table()->item(0, 0)->text(), QString("A2"));
}

void TestOrders::an_analyzer_result_for_an_accession_lands_on_its_order() {
    QVERIFY(QFile::copy(REPORT_FILES_DIR "/analyzer_codes.tsv", folder_->path() + "/analyzer_codes.tsv"));
    QCOMPARE(place_order(kStaff, order_of(7, {&catalogue::kBiochemistryReport})).value, QList<qint64>{1});
    // The analyzer read the tube's label: its sample id is the accession.
    QVERIFY(store_analyzer_message({"chemistry", "hl7", "raw", {{"A1", "GLU", "99"}}, {}}).ok());
    auto* pending = qobject_cast<PendingResultsWindow*>(screens::open(kPendingResultsScreen));
    QVERIFY(pending);
    QAbstractItemModel* rows = pending->grid()->model();
    QCOMPARE(rows->rowCount(), 1);
    QCOMPARE(
        (QStringList{rows->index(0, 0).data().toString(), rows->index(0, 1).data().toString(),
                     rows->index(0, 2).data().toString()}),
        (QStringList{"Ordered: waits for its report", "A1 (Asha D'Souza, ID 7)", "Biochemistry report"}));
    pending->open_row(0);
    auto* bio = qobject_cast<TestScreen*>(screens::find(catalogue::kBiochemistryReport.screen));
    QVERIFY(bio);
    QCOMPARE(bio->workflow().form().analyzer_results, 1);
    bio->take_analyzer_results();
    const int glucose = 2;
    QCOMPARE(box_text(bio->result_box(glucose)), QString("99 mg/dl"));
    bio->save();
    QVERIFY2(messages_->texts().contains("New report added"), qPrintable(messages_->texts().join('|')));
    QCOMPARE(number_of("SELECT count(*) FROM pending_results WHERE taken_at <> ''"), 1);
    QVERIFY(waiting_samples().value.isEmpty());
}

// A laboratory that never ordered sees registration as it always was; once
// it orders, Order tests opens for the patient just added.
void TestOrders::registration_offers_order_tests_once_the_laboratory_orders() {
    auto* before = screens::open(kRegistrationScreen);
    const QSize specified = before->size();
    QVERIFY(!before->findChild<QPushButton*>("cmdOrder"));
    before->close();
    settle();
    QVERIFY(place_order(kStaff, order_of(7, {&catalogue::kSerology})).ok());
    auto* registration = qobject_cast<RegistrationScreen*>(screens::open(kRegistrationScreen));
    show_active(registration);
    auto* order = registration->findChild<QPushButton*>("cmdOrder");
    QVERIFY(order && order->isVisible());
    QCOMPARE(order->accessibleName(), QString("Order tests"));
    QVERIFY(registration->width() > specified.width());
    QVERIFY(registration->rect().contains(order->geometry()));
    const QString added = registration->findChild<QLineEdit*>("Text1")->text();
    registration->findChild<QLineEdit*>("text2")->setText("Meera Iyer");
    registration->save();
    QCOMPARE(messages_->texts(), QStringList{"New patient added"});
    order->click();
    auto* window = qobject_cast<OrderWindow*>(screens::find(kOrderTestsScreen));
    QVERIFY(window);
    QCOMPARE(window->findChild<QLineEdit*>("patient_id")->text(), added);
    QVERIFY(window->findChild<QLabel*>("patient")->text().contains("Meera Iyer"));
}

void TestOrders::a_long_waiting_list_is_read_as_it_is_scrolled() {
    constexpr int kOrders = 230; // more than a page
    QVERIFY(
        in_transaction([] {
            for (int a = 1; a <= kOrders; ++a)
                for (DbError e :
                     {add_row("orders", {{"accession", a},
                                         {"patient_id", 7},
                                         {"ordered_at",
                                          QString("2026-12-10T08:%1:00").arg(a % 60, 2, 10, QChar('0'))}}),
                      add_row("order_samples", {{"accession", a}, {"sample_kind", "serum"}}),
                      add_row("order_tests", {{"accession", a}, {"test", "Serology"}})})
                    if (!e.ok()) return e;
            return DbError{};
        }).ok());
    auto* waiting = qobject_cast<OrdersWaitingWindow*>(screens::open(kOrdersWaitingScreen));
    show_active(waiting);
    QCOMPARE(waiting->findChild<QLabel*>("count")->text(), QString("230 accessions waiting"));
    const int first_page = waiting->table()->rowCount();
    QVERIFY(first_page < kOrders);
    // Arrowed to the end of what is shown: the rest is read on.
    waiting->table()->setFocus();
    QTest::keyClick(waiting->table(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(waiting->table()->rowCount(), kOrders);
    QCOMPARE(waiting->table()->currentRow(), first_page - 1);
    // A refresh keeps every row read; a scan finds one beyond the first page.
    waiting->refresh();
    QCOMPARE(waiting->table()->rowCount(), kOrders);
    waiting->close();
    waiting = qobject_cast<OrdersWaitingWindow*>(screens::open(kOrdersWaitingScreen));
    const auto last_one = waiting_samples(1, kOrders - 1).value;
    QCOMPARE(last_one.size(), 1);
    const QString last = accession_text(last_one[0].accession);
    waiting->findChild<QLineEdit*>("scan")->setText(last);
    waiting->scanned();
    QCOMPARE(waiting->table()->currentRow(), kOrders - 1);
    QCOMPARE(waiting->table()->item(kOrders - 1, 0)->text(), last);
    QVERIFY(messages_->texts().isEmpty());
}

TAVORA_TEST_MAIN(TestOrders)
#include "test_orders.moc"
