// Orders at ten years' scale: 10,000 orders still waiting, and 100,000 long
// resulted, on top of the ten-year database (100,000 patients, 400,000
// reports), and the Orders
// waiting window opened over them (read, built, shown and painted once);
// then one sample's label rendered to a PDF.
//   orders_bench [--db FILE] [--server CONNINFO]
// The orders are added under a note of their own and removed at the end (and
// at the start, should an earlier run have stopped half-way).

#include "bench_support.h"
#include "connection.h"
#include "label.h"
#include "order_window.h"
#include "orders.h"
#include "orders_waiting.h"
#include "records.h"
#include "screen_registry.h"
#include "ten_year_database.h"
#include "workstations.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWidget>

namespace {

const QString kNote = QStringLiteral("orders_bench");
constexpr qint64 kFirstAccession = 900000000; // far above any real series

DbError remove_bench_orders() {
    return in_transaction([] {
        const QString mine = QStringLiteral("(SELECT accession FROM orders WHERE note = '%1')").arg(kNote);
        for (const char* table : {"order_tests", "order_samples"})
            if (DbError e = execute(
                    QStringLiteral("DELETE FROM %1 WHERE accession IN %2").arg(QLatin1String(table), mine));
                !e.ok())
                return e;
        return execute(QStringLiteral("DELETE FROM orders WHERE note = ?"), {kNote});
    });
}

// 10,000 accessions of patients spread over the file, a tenth urgent, each
// of one to three tests of its sample kind, half of them collected.
DbError add_bench_orders(int count) {
    return in_transaction([&]() -> DbError {
        for (int i = 0; i < count; ++i) {
            const qint64 a = kFirstAccession + i;
            const QString at =
                QDateTime(QDate(2026, 12, 1), QTime(7, 0)).addSecs(i * 37).toString(Qt::ISODate);
            DbError e = execute(QStringLiteral("INSERT INTO orders (accession, patient_id, ref_by, priority, "
                                               "ordered_by, ordered_at, note) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                                {a, 1 + (i * 7919) % 100000, QStringLiteral("Dr. Bench"),
                                 i % 10 == 0 ? QStringLiteral("urgent") : QStringLiteral("routine"),
                                 QStringLiteral("bench"), at, kNote});
            if (!e.ok()) return e;
            e = execute(
                QStringLiteral(
                    "INSERT INTO order_samples (accession, sample_kind, collected_at) VALUES (?, ?, ?)"),
                {a, QStringLiteral("serum"), i % 2 ? at : QStringLiteral("")});
            if (!e.ok()) return e;
            const Investigation* tests[] = {&catalogue::kBiochemistryReport, &catalogue::kSerology,
                                            &catalogue::kThyroidHormoneProfile};
            for (int t = 0; t <= i % 3; ++t)
                if (e = execute(QStringLiteral("INSERT INTO order_tests (accession, test) VALUES (?, ?)"),
                                {a, QString::fromUtf8(tests[t]->test)});
                    !e.ok())
                    return e;
        }
        // Ten years of ordering behind them: 100,000 accessions long resulted.
        const QString resulted =
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) ")
                .arg(kFirstAccession + count)
                .arg(kFirstAccession + count + 99999);
        for (const QString& insert :
             {QStringLiteral(
                  "INSERT INTO orders (accession, patient_id, ref_by, priority, ordered_by, ordered_at, "
                  "note) SELECT i, 1 + i % 100000, 'Dr. Bench', 'routine', 'bench', "
                  "'2025-06-01T09:00:00', '%1' FROM n")
                  .arg(kNote),
              QStringLiteral("INSERT INTO order_samples (accession, sample_kind, collected_at, received_at) "
                             "SELECT i, 'serum', '2025-06-01T09:10:00', '2025-06-01T09:30:00' FROM n"),
              QStringLiteral(
                  "INSERT INTO order_tests (accession, test, lab_id) SELECT i, '%1', 1 + i % 400000 FROM n")
                  .arg(QString::fromUtf8(catalogue::kBiochemistryReport.test))})
            if (DbError e = execute(resulted + insert); !e.ok()) return e;
        return DbError{};
    });
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry();
    const QStringList args = app.arguments();
    QTemporaryDir dir;
    if (!use_ten_year_program_folder(args, dir.path())) return 1;
    register_order_screens();
    constexpr int kOrders = 10000;
    if (DbError e = remove_bench_orders(); !e.ok()) {
        std::printf("cannot clear earlier orders: %s\n", qPrintable(e.description));
        return 2;
    }
    if (DbError e = add_bench_orders(kOrders); !e.ok()) {
        std::printf("cannot add the orders: %s\n", qPrintable(e.description));
        return 2;
    }
    Targets targets;
    std::printf("%d orders waiting, at ten years\n", kOrders);
    int rows = 0;
    QString count;
    const double open_ms = median_ms(7, [&] {
        QWidget* w = screens::open(QString::fromLatin1(kOrdersWaitingScreen));
        w->grab(); // laid out and painted once
        rows = w->findChild<QTableWidget*>(QStringLiteral("orders"))->rowCount();
        count = w->findChild<QLabel*>(QStringLiteral("count"))->text();
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    targets.check("Orders waiting opened", open_ms, 100);
    std::printf("  (%d rows shown first; \"%s\")\n", rows, qPrintable(count));
    if (count != QStringLiteral("%1 accessions waiting").arg(kOrders)) targets.miss();

    // The last of them scanned: the list read a page at a time to its end.
    {
        auto* w = static_cast<OrdersWaitingWindow*>(screens::open(QString::fromLatin1(kOrdersWaitingScreen)));
        auto* scan = w->findChild<QLineEdit*>(QStringLiteral("scan"));
        const auto last = waiting_samples(1, kOrders - 1);
        QElapsedTimer t;
        t.start();
        scan->setText(accession_text(last.value.value(0).accession));
        w->scanned();
        std::printf("  the last of %d scanned, the list read to it: %.0f ms, %d rows\n", kOrders,
                    t.nsecsElapsed() / 1e6, w->table()->rowCount());
        if (w->table()->currentRow() != kOrders - 1) targets.miss();
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    const auto sample = ordered_sample(kFirstAccession + 2);
    if (!sample.ok() || !sample.value) {
        std::printf("cannot read a bench order\n");
        return 2;
    }
    const LabelContent label = sample_label(*sample.value);
    const QString pdf = QDir(dir.path()).filePath(QStringLiteral("label.pdf"));
    QString failure;
    const double label_ms = median_ms(15, [&] { failure = write_labels_pdf({label}, label_size(), pdf); });
    if (!failure.isEmpty()) {
        std::printf("  the label failed: %s\n", qPrintable(failure));
        targets.miss();
    }
    targets.check("one label rendered to a PDF", label_ms, 50);
    remove_bench_orders();
    return targets.exit_code();
}
