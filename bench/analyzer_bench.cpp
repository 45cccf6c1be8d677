// Results from the analyzers at a laboratory's scale, on the ten-year
// database: 1,000 results sent to the real tavora-lab-analyzer over TCP, as
// 100 samples of ten results each, stored and acknowledged (ASTM and HL7);
// then the Pending analyzer results window opened over 10,000 waiting results.
//   analyzer_bench [--db FILE] [--server CONNINFO]

#include "analyzer_results.h"
#include "astm.h"
#include "bench_support.h"
#include "connection.h"
#include "hl7.h"
#include "pending_window.h"
#include "postgres_database.h"
#include "records.h"
#include "report_engine.h"
#include "ten_year_database.h"
#include "workstations.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

constexpr int kSamples = 100, kPerSample = 10;
const char* const kCodes[kPerSample] = {"GLU", "UREA", "CREA", "NA", "K", "CL", "CHOL", "TG", "HDL", "ALT"};

// The lab ids the bench's results are for: past the ten-year reports.
qint64 lab_id(int sample) {
    return 900000 + sample;
}

QByteArray read_answer(QTcpSocket& s, int bytes) {
    QByteArray got;
    while (got.size() < bytes && (s.bytesAvailable() > 0 || s.waitForReadyRead(5000)))
        got += s.read(bytes - got.size());
    return got;
}

// Sends every sample as an ASTM message; the number of frames not acknowledged.
int send_astm(QTcpSocket& s) {
    int refused = 0;
    for (int sample = 0; sample < kSamples; ++sample) {
        QByteArray records = "H|\\^&|||Bench\rP|1\rO|1|" + QByteArray::number(lab_id(sample)) + "\r";
        for (int i = 0; i < kPerSample; ++i)
            records += "R|" + QByteArray::number(i + 1) + "|^^^" + kCodes[i] + "|" +
                       QByteArray::number(4 + i) + "|mg/dl||N||F\r";
        records += "L|1|N\r";
        s.write(QByteArray(1, astm::kEnq));
        refused += read_answer(s, 1) != QByteArray(1, astm::kAck);
        for (const QByteArray& f : astm::frames(records)) {
            s.write(f);
            refused += read_answer(s, 1) != QByteArray(1, astm::kAck);
        }
        s.write(QByteArray(1, astm::kEot));
    }
    return refused;
}

// Sends every sample as an HL7 ORU^R01; the number of messages not acknowledged with AA.
int send_hl7(QTcpSocket& s) {
    int refused = 0;
    hl7::MllpReader reader;
    for (int sample = 0; sample < kSamples; ++sample) {
        QByteArray m = "MSH|^~\\&|Bench|Lab|||20261209||ORU^R01|" + QByteArray::number(sample) +
                       "|P|2.3.1\rOBR|1||" + QByteArray::number(lab_id(sample)) + "\r";
        for (int i = 0; i < kPerSample; ++i)
            m += "OBX|" + QByteArray::number(i + 1) + "|NM|" + kCodes[i] + "||" + QByteArray::number(4 + i) +
                 "|mg/dl||N|||F\r";
        s.write(hl7::frame(m));
        QList<QByteArray> acks;
        while (acks.isEmpty() && (s.bytesAvailable() > 0 || s.waitForReadyRead(5000)))
            acks = reader.feed(s.readAll());
        refused += acks.isEmpty() || !acks[0].contains("MSA|AA|");
    }
    return refused;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    use_preview_engine();        // and prints through the preview, as the program does
    const QStringList args = app.arguments();
    QTemporaryDir dir;
    if (!use_ten_year_program_folder(args, dir.path())) return 1;
    Targets targets;
    auto clean = [] {
        execute("DELETE FROM pending_results");
        execute("DELETE FROM analyzer_messages");
    };
    clean();

    // The listener as the laboratory runs it, on the same database.
    QFile ini(dir.filePath("analyzers.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write("[analyzer counter]\nprotocol=astm\nlisten=0\n[analyzer chemistry]\nprotocol=hl7\nlisten=0\n");
    ini.close();
    const QString given = Database::program()->driver() == QLatin1String("QPSQL") ? configured_server_url()
                                                                                  : database_file_path();
    QProcess listener;
    listener.start(QCoreApplication::applicationDirPath() + "/../tavora-lab-analyzer",
                   {"--db", given, "--config", ini.fileName(), "--spool", dir.filePath("spool")});
    QString log;
    QElapsedTimer waited;
    waited.start();
    while (!(log.contains("counter: listening") && log.contains("chemistry: listening")) &&
           waited.elapsed() < 20000) {
        listener.waitForReadyRead(200);
        log += QString::fromUtf8(listener.readAllStandardOutput());
    }
    auto port = [&](const char* name) {
        return QRegularExpression(QString(name) + ": listening for \\w+ on port (\\d+)")
            .match(log)
            .captured(1)
            .toInt();
    };
    if (port("counter") <= 0 || port("chemistry") <= 0) {
        std::fprintf(stderr, "the listener did not start: %s%s\n", qPrintable(log),
                     listener.readAllStandardError().constData());
        return 1;
    }
    std::printf("1,000 results over TCP (100 samples of 10), spooled and acknowledged:\n");
    QElapsedTimer both;
    both.start();
    for (const char* name : {"counter", "chemistry"}) {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", quint16(port(name)));
        if (!s.waitForConnected(5000)) return 1;
        QElapsedTimer t;
        t.start();
        const int refused = QLatin1String(name) == QLatin1String("counter") ? send_astm(s) : send_hl7(s);
        const double ms = t.nsecsElapsed() / 1e6;
        targets.check(QLatin1String(name) == QLatin1String("counter") ? "ASTM (LIS1-A over TCP)"
                                                                      : "HL7 (MLLP)",
                      ms, 2000);
        if (refused) {
            std::printf("  %d not acknowledged\n", refused);
            targets.miss();
        }
    }
    // Stored from the spool meanwhile: the last of them soon after the last answer.
    int stored = 0;
    while ((stored = int(select_first("SELECT count(*) FROM pending_results").value->value(0).toInt())) <
               2 * kSamples * kPerSample &&
           both.elapsed() < 20000)
        QThread::msleep(5);
    std::printf("  %d results stored, the last %.0f ms after the first was sent\n", stored,
                both.nsecsElapsed() / 1e6);
    listener.kill();
    listener.waitForFinished();
    if (stored != 2 * kSamples * kPerSample) targets.miss();

    // 10,000 results waiting: 1,000 samples of ten, most for reports of the
    // ten years, some for lab ids no report has, some codes no box takes.
    clean();
    for (int sample = 0; sample < 1000; ++sample) {
        ReceivedMessage m{"chemistry", "hl7", "bench", {}, {}};
        const QString lab = QString::number(sample % 10 == 0 ? lab_id(sample) : 1 + sample * 397 % 400000);
        for (int i = 0; i < kPerSample; ++i)
            m.results << AnalyzerResult{lab, i == 9 && sample % 7 == 0 ? "XYZ" : kCodes[i], "5", "", ""};
        if (const DbError e = store_analyzer_message(m).error; !e.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(e.description));
            return 1;
        }
    }
    std::printf("The Pending analyzer results window over 10,000 waiting results:\n");
    const double opened = median_ms(5, [] {
        PendingResultsWindow w;
        w.show();
        QApplication::processEvents();
        if (w.grid()->model()->rowCount() != 10000)
            std::printf("  only %d rows\n", w.grid()->model()->rowCount());
    });
    targets.check("opened, listed and painted", opened, 100);
    std::printf("    of which reading the waiting results: %.1f ms\n",
                median_ms(5, [] { all_pending_results(); }));
    clean();
    return targets.exit_code();
}
