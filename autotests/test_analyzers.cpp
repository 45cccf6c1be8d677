// Results from the analyzers: the ASTM and HL7 protocols on the plain classes
// that decide them, then the real listener program, fed by an analyzer
// simulated here over TCP and over a serial line (a pseudo-terminal pair).
#include "data_support.h"

#include "analyzer_results.h"
#include "astm.h"
#include "connection.h"
#include "core_tables.h"
#include "hl7.h"
#include "orders.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSettings>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtConcurrent>

#include <csignal>
#include <memory>

namespace {

using namespace astm;

// A complete message: two patients, three orders, a comment, a result with
// escapes and one whose value repeats.
const QByteArray kRecords = "H|\\^&|||Counter^2.1|||||||P|LIS2-A2|20261209101500\r"
                            "P|1||PID-1\r"
                            "O|1|00042||^^^CBC\r"
                            "R|1|^^^HGB|13.5|g/dl|12-16|N||F\r"
                            "C|1|I|calibrated today|G\r"
                            "R|2|^^^WBC|7200\\7300|/cumm||H||F\r"
                            "P|2||PID-2\r"
                            "O|1|43||^^^CHEM\r"
                            "R|1|^^^GLU^local|95|mg&S&dl||N||F\r"
                            "O|2|44||^^^CHEM\r"
                            "R|1|^^^K|6&F&8|mmol/L||HH||F\r"
                            "L|1|N\r";

QString results_text(const QList<AnalyzerResult>& results) {
    QStringList out;
    for (const AnalyzerResult& r : results)
        out << QStringList{r.lab_id, r.code, r.value, r.units, r.flag}.join(u'|');
    return out.join(u';');
}

// A parsed message against the data row's "problem" (a part of it; empty:
// none) and "results".
template <typename Parsed> void compare_parsed(const Parsed& parsed) {
    QFETCH(QString, problem);
    if (problem.isEmpty())
        QCOMPARE(parsed.problem, QString());
    else
        QVERIFY2(parsed.problem.contains(problem), qPrintable(parsed.problem));
    QTEST(results_text(parsed.results), "results");
}

// The frames of kRecords with several records in one frame and a record
// across two frames.
QList<QByteArray> mixed_frames() {
    const QList<QByteArray> records = kRecords.split('\r');
    QList<QByteArray> frames;
    frames << frame(1, records[0] + '\r', true);
    frames << frame(2, records[1] + '\r' + records[2] + '\r' + records[3] + '\r', true);
    const QByteArray long_one = records[4] + '\r';
    frames << frame(3, long_one.left(7), false) << frame(4, long_one.mid(7), true);
    QByteArray rest;
    for (int i = 5; i < records.size(); ++i)
        if (!records[i].isEmpty()) rest += records[i] + '\r';
    frames << frame(5, rest, true);
    return frames;
}

// The receiving side on its own, with what it delivered and abandoned.
struct Receiver {
    QList<QByteArray> delivered;
    QList<std::pair<QByteArray, QString>> abandoned;
    int refuse_next = 0; // deliveries to refuse (the database could not store them)
    int attempts = 0;
    AstmLink link{[this](const QByteArray& m) {
                      ++attempts;
                      if (refuse_next > 0) return --refuse_next, false;
                      delivered << m;
                      return true;
                  },
                  [this](const QByteArray& m, const QString& why) {
                      abandoned << std::pair{m, why};
                  }};
    qint64 now = 1000;
    QByteArray send(const QByteArray& bytes) { return link.receive(bytes, now); }
};

QByteArray acks(int n) {
    return QByteArray(n, kAck);
}

QByteArray corrupted(QByteArray f) {
    f[f.size() - 4] = f[f.size() - 4] == '0' ? '1' : '0'; // a checksum digit
    return f;
}

// A running tavora-lab-analyzer and what it logged.
class Listener {
public:
    Listener(const QString& db, const QString& ini) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        // Its spool goes with its configuration: started again on the same
        // one, it finds what it left.
        process_.start(QStringLiteral(LISTENER_TOOL),
                       {"--db", db, "--config", ini, "--spool", ini + ".spool"});
    }
    ~Listener() { stop(); }
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill(); // as a power cut would: no goodbye
        process_.waitForFinished();
    }
    bool wait_for(const QString& text, int ms = 15000) {
        QElapsedTimer t;
        t.start();
        while (!log().contains(text) && t.elapsed() < ms && process_.state() != QProcess::NotRunning)
            process_.waitForReadyRead(100);
        return log().contains(text);
    }
    int port(const QString& analyzer) {
        if (!wait_for(analyzer + ": listening for")) return -1;
        const QRegularExpression re(QRegularExpression::escape(analyzer) +
                                    ": listening for \\w+ on port (\\d+)");
        return re.match(log()).captured(1).toInt();
    }
    QString log() {
        log_ += QString::fromUtf8(process_.readAll());
        return log_;
    }
    qint64 pid() const { return process_.processId(); }

private:
    QProcess process_;
    QString log_;
};

// Writes `bytes` and reads the `expect` bytes of the answer.
QByteArray exchange(QIODevice& line, const QByteArray& bytes, int expect = 1) {
    line.write(bytes);
    line.waitForBytesWritten(5000);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < expect && t.elapsed() < 15000) {
        if (line.bytesAvailable() == 0) line.waitForReadyRead(200);
        got += line.read(expect - got.size());
    }
    return got;
}

// The analyzer's side of an ASTM transfer: ENQ, every frame, EOT; or, with
// `frames_sent`, only that many frames and no EOT (the listener dies then).
bool send_astm(QIODevice& line, const QByteArray& records, int frames_sent = -1) {
    if (exchange(line, QByteArray(1, kEnq)) != acks(1)) return false;
    const QList<QByteArray> fs = frames(records);
    for (int i = 0; i < fs.size() && (frames_sent < 0 || i < frames_sent); ++i)
        if (exchange(line, fs[i]) != acks(1)) return false;
    if (frames_sent < 0) {
        line.write(QByteArray(1, kEot));
        line.waitForBytesWritten(5000);
    }
    return true;
}

// One HL7 message sent and its acknowledgement read.
QByteArray send_hl7(QTcpSocket& socket, const QByteArray& message) {
    socket.write(hl7::frame(message));
    hl7::MllpReader reader;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 15000 &&
           (socket.state() == QAbstractSocket::ConnectedState || socket.bytesAvailable())) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(200)) continue;
        const QList<QByteArray> got = reader.feed(socket.readAll());
        if (!got.isEmpty()) return got[0];
    }
    return {};
}

QByteArray oru(const QString& control, const QString& lab_id, const QString& obx) {
    return QStringLiteral("MSH|^~\\&|CHEM|LAB|||20261209||ORU^R01|%1|P|2.3.1\rPID|1||PID-1\r"
                          "OBR|1||%2|CHEM\r%3")
        .arg(control, lab_id, obx)
        .toLatin1();
}

} // namespace

class TestAnalyzers : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;

    QString database() const {
        return testing_on_server() ? folder_->server_url() : folder_->database_path();
    }
    QString ini(const QString& sections) const {
        const QString path = folder_->path() + "/analyzers-" + QString::number(qHash(sections)) + ".ini";
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(sections.toUtf8());
        return path;
    }

private slots:
    void init() { folder_ = std::make_unique<ProgramFolder>(); }
    void cleanup() { folder_.reset(); }

    void astm_frames_are_read_however_the_bytes_come();
    void astm_faults_on_the_line_data();
    void astm_faults_on_the_line();
    void a_query_is_answered_once_the_line_is_free();
    void received_orders_are_pushed_to_an_analyzer_that_takes_them();
    void astm_records_are_read_data();
    void astm_records_are_read();
    void quality_control_and_whole_test_ids_are_read_data();
    void quality_control_and_whole_test_ids_are_read();
    void hl7_messages_are_read_data();
    void the_sample_id_comes_from_its_one_place_data();
    void the_sample_id_comes_from_its_one_place();
    void hl7_messages_are_read();
    void the_listener_stores_and_acknowledges_over_tcp();
    void nothing_is_half_stored_when_the_listener_dies();
    void two_listeners_write_at_once();
    void a_serial_line_is_read_for_real();
    void a_folder_is_read_file_by_file();
    void messages_are_bounded_and_long_frames_taken();
    void several_analyzers_on_one_port_are_named_by_their_headers();
    void real_instruments_reach_the_right_boxes();
    void a_database_that_takes_nothing_costs_a_wait_not_a_result_data();
    void a_database_that_takes_nothing_costs_a_wait_not_a_result();
    void every_acknowledged_message_is_stored_once_however_the_listener_dies();
};

void TestAnalyzers::astm_frames_are_read_however_the_bytes_come() {
    QByteArray stream(1, kEnq);
    const QList<QByteArray> fs = mixed_frames();
    for (const QByteArray& f : fs)
        stream += f;
    stream += kEot;
    // Cut in two at every byte, then one byte at a time.
    for (int cut = 0; cut <= stream.size(); ++cut) {
        Receiver r;
        QByteArray replies = r.send(stream.left(cut));
        replies += r.send(stream.mid(cut));
        QCOMPARE(replies, acks(1 + fs.size()));
        QCOMPARE(r.delivered, QList<QByteArray>{kRecords});
        QVERIFY(r.abandoned.isEmpty());
        QVERIFY(r.link.idle());
    }
    Receiver r;
    QByteArray replies;
    for (char c : stream)
        replies += r.send(QByteArray(1, c));
    QCOMPARE(replies, acks(1 + fs.size()));
    QCOMPARE(r.delivered, QList<QByteArray>{kRecords});
    // frames() splits a record longer than a frame and sends it whole.
    const QByteArray long_message = "H|\\^&\rC|1|I|" + QByteArray(600, 'x') + "|G\rL|1\r";
    Receiver split;
    QByteArray all(1, kEnq);
    for (const QByteArray& f : frames(long_message))
        all += f;
    QCOMPARE(split.send(all + kEot).count(kAck), 1 + int(frames(long_message).size()));
    QCOMPARE(split.delivered, QList<QByteArray>{long_message});
    // Frame numbers run 1..7, 0, 1...: twenty frames in one transfer.
    QByteArray twenty = "H|\\^&\rO|1|9\r";
    for (int i = 1; i <= 17; ++i)
        twenty += "R|" + QByteArray::number(i) + "|^^^K|4\r";
    twenty += "L|1\r";
    Receiver wrapped;
    QByteArray sent(1, kEnq);
    for (const QByteArray& f : frames(twenty))
        sent += f;
    QCOMPARE(frames(twenty).size(), 20);
    QCOMPARE(wrapped.send(sent + kEot), acks(21));
    QCOMPARE(parse_message(wrapped.delivered.value(0)).results.size(), 17);
}

void TestAnalyzers::astm_faults_on_the_line_data() {
    // Steps: "E" ENQ, "T" EOT, "fN" frame N of the message, "bN" frame N with a bad
    // checksum, "xN" frame N numbered wrongly, "s" 30 s of silence, "r" the
    // database refuses the next message. Then the replies expected, and the
    // messages delivered and abandoned.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("delivered");
    QTest::addColumn<QString>("abandoned");
    const QByteArray A(1, kAck), N(1, kNak);
    QTest::newRow("a bad checksum is NAK'd, the retransmission taken")
        << QStringList{"E", "f1", "b2", "f2", "f3", "f4", "f5", "T"} << A + A + N + A + A + A + A << 1 << "";
    QTest::newRow("six failures end the transfer")
        << QStringList{"E", "f1", "b2", "b2", "b2", "b2", "b2", "b2", "T"} << A + A + N + N + N + N + N + N
        << 0 << "the transfer ended";
    QTest::newRow("a frame numbered out of turn is refused")
        << QStringList{"E", "f1", "x3", "f2", "f3", "f4", "f5", "T"} << A + A + N + A + A + A + A << 1 << "";
    QTest::newRow("a frame sent again after a lost ACK counts once")
        << QStringList{"E", "f1", "f1", "f2", "f2", "f3", "f4", "f5", "T"} << A + A + A + A + A + A + A + A
        << 1 << "";
    QTest::newRow("silence ends the transfer")
        << QStringList{"E", "f1", "f2", "s", "f3"} << A + A + A << 0 << "fell silent";
    QTest::newRow("the analyzer starts again: the line is its")
        << QStringList{"E", "f1", "f2", "E", "f1", "f2", "f3", "f4", "f5", "T"}
        << A + A + A + A + A + A + A + A + A << 1 << "began again";
    QTest::newRow("a message the database refuses is sent again")
        << QStringList{"E", "f1", "f2", "f3", "f4", "r", "f5", "f5", "T"} << A + A + A + A + A + N + A << 1
        << "";
}

void TestAnalyzers::astm_faults_on_the_line() {
    QFETCH(QStringList, steps);
    const QList<QByteArray> fs = mixed_frames();
    Receiver r;
    QByteArray replies;
    for (const QString& s : steps) {
        const int n = s.mid(1).toInt();
        if (s == "E") replies += r.send(QByteArray(1, kEnq));
        if (s == "T") replies += r.send(QByteArray(1, kEot));
        if (s == "r") r.refuse_next = 1;
        if (s == "s") {
            r.link.tick(r.now + 29999);
            QVERIFY(!r.link.idle());
            r.now += 30000;
            r.link.tick(r.now);
            QVERIFY(r.link.idle());
        }
        if (s.startsWith('f')) replies += r.send(fs[n - 1]);
        if (s.startsWith('b')) replies += r.send(corrupted(fs[n - 1]));
        if (s.startsWith('x')) replies += r.send(frame(n, "R|9|^^^X|1\r", true));
    }
    QTEST(replies, "replies");
    QTEST(int(r.delivered.size()), "delivered");
    if (!r.delivered.isEmpty()) QCOMPARE(r.delivered[0], kRecords);
    QFETCH(QString, abandoned);
    QCOMPARE(r.abandoned.size(), abandoned.isEmpty() ? 0 : 1);
    if (!abandoned.isEmpty()) {
        QVERIFY2(r.abandoned[0].second.contains(abandoned), qPrintable(r.abandoned[0].second));
        QVERIFY(r.abandoned[0].first.startsWith("H|")); // what came of it is kept
    }
}

// The host answers a query (no orders: "no information") with a transfer of
// its own once the analyzer has ended its own; when both bid at once the
// analyzer has the line.
void TestAnalyzers::a_query_is_answered_once_the_line_is_free() {
    const QByteArray query = "H|\\^&|||Counter\rQ|1|^0042||^^^ALL||||||||O\rL|1|N\r";
    QVERIFY(is_query(query) && !is_query(kRecords));
    QVERIFY(parse_message(query).problem.startsWith("a query for the analyzer's work (Q record)"));
    Receiver r;
    QCOMPARE(r.send(QByteArray(1, kEnq)), acks(1));
    for (const QByteArray& f : frames(query))
        QCOMPARE(r.send(f), acks(1));
    r.link.send(no_information_reply());
    QCOMPARE(r.link.take_output(r.now), QByteArray()); // the analyzer's transfer is still open
    QCOMPARE(r.send(QByteArray(1, kEot)), QByteArray());
    QCOMPARE(r.link.take_output(r.now), QByteArray(1, kEnq));
    // The analyzer bids at the same moment: it has the line, the answer waits.
    QCOMPARE(r.send(QByteArray(1, kEnq)), acks(1));
    QCOMPARE(r.link.take_output(r.now), QByteArray());
    for (const QByteArray& f : frames(kRecords))
        QCOMPARE(r.send(f), acks(1));
    QCOMPARE(r.send(QByteArray(1, kEot)), QByteArray());
    QCOMPARE(r.delivered.size(), 2);
    QCOMPARE(r.link.take_output(r.now), QByteArray(1, kEnq));
    const QList<QByteArray> answer = frames(no_information_reply());
    QCOMPARE(answer.size(), 2);
    const QByteArray first = r.send(QByteArray(1, kAck));
    QVERIFY2(first.startsWith("\x02"
                              "1H|\\^&|||TAVORA LAB"),
             first.constData());
    QCOMPARE(r.send(QByteArray(1, kNak)), first); // refused: sent again
    QVERIFY(r.send(QByteArray(1, kAck)).contains("L|1|I\r\x03"));
    QCOMPARE(r.send(QByteArray(1, kAck)), QByteArray(1, kEot));
    QCOMPARE(r.link.take_output(r.now), QByteArray()); // answered once
    // An analyzer that never answers a bid: the line is given back after 15 s.
    r.link.send(no_information_reply());
    QCOMPARE(r.link.take_output(r.now), QByteArray(1, kEnq));
    r.link.tick(r.now + kSenderTimeoutMs);
    QCOMPARE(r.link.take_output(r.now + kSenderTimeoutMs), QByteArray(1, kEot));
}

void TestAnalyzers::astm_records_are_read_data() {
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("problem");
    QTest::newRow("patients, orders, comments, escapes, repeats")
        << kRecords << "00042|HGB|13.5|g/dl|N;00042|WBC|7200|/cumm|H;43|GLU|95|mg^dl|N;44|K|6|8|mmol/L|HH"
        << "";
    QTest::newRow("the header's own delimiters")
        << QByteArray("H!@#$\rP!1\rO!1!51\rR!1!###NA!140$F$2!mmol#L!!N\rL!1\r") << "51|NA|140!2|mmol|N"
        << "";
    QTest::newRow("the test id's first part where no local code")
        << QByteArray("H|\\^&\rO|1|7\rR|1|TSH^Thyrotropin|2.1|uIU/ml\rL|1\r") << "7|TSH|2.1|uIU/ml|"
        << "";
    QTest::newRow("no header") << QByteArray("P|1\rO|1|7\rL|1\r") << ""
                               << "header (H)";
    QTest::newRow("a result before any order") << QByteArray("H|\\^&\rP|1\rR|1|^^^K|4\rL|1\r") << ""
                                               << "before any order";
    QTest::newRow("no terminator") << QByteArray("H|\\^&\rO|1|7\rR|1|^^^K|4\r") << ""
                                   << "terminator (L)";
}

void TestAnalyzers::astm_records_are_read() {
    QFETCH(QByteArray, records);
    // The value "6&F&8" of K is "6|8": joined with | here it reads as one more field.
    compare_parsed(parse_message(records));
}

void TestAnalyzers::quality_control_and_whole_test_ids_are_read_data() {
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("results"); // lab id|code|whole test id|status|qc
    QTest::newRow("ASTM: a QC run (processing id Q)")
        << "astm"
        << QByteArray(
               "H|\\^&|||Counter|||||||Q|LIS2-A2\rP|1\rO|1|QC-LOW||^^^CBC\rR|1|^^^HGB|11.9|g/dl||N||F\rL|1\r")
        << "QC-LOW|HGB|^^^HGB|F|qc";
    QTest::newRow("ASTM: one order a QC specimen (action code Q)")
        << "astm"
        << QByteArray("H|\\^&\rO|1|CTRL1||^^^GLU|||||||Q\rR|1|^^^GLU|98|mg/dl||||F\rO|2|55||^^^GLU\r"
                      "R|1|^^^GLU|120|mg/dl||||F\rL|1\r")
        << "CTRL1|GLU|^^^GLU|F|qc;55|GLU|^^^GLU|F|";
    QTest::newRow("ASTM: final, interpretation and raw signal apart")
        << "astm"
        << QByteArray(
               "H|\\^&\rO|1|8||^^^685\rR|1|^^^685^TSH^UNDILUTED^F|0.15|uIU/mL||||F\r"
               "R|2|^^^685^TSH^UNDILUTED^I|Negative|||||F\rR|3|^^^685^TSH^UNDILUTED^P|1277|RLU||||F\rL|1\r")
        << "8|685|^^^685^TSH^UNDILUTED^F|F|;8|685|^^^685^TSH^UNDILUTED^I|F|;8|685|^^^685^TSH^UNDILUTED^P|F|";
    QTest::newRow("HL7: a control specimen (SPM-11 Q) before its order")
        << "hl7"
        << QByteArray("MSH|^~\\&|LAW|LAB|||20261210||OUL^R22|Q1|P|2.5.1\rSPM|1|QC-9||SER|||||||Q\r"
                      "OBR|1||QC-9|GLU\rOBX|1|NM|GLU^Glucose^LN||101|mg/dL|||||F\r"
                      "SPM|2|71||SER|||||||P\rOBR|2||71|GLU\rOBX|1|NM|GLU^Glucose^LN||88|mg/dL|||||P\r")
        << "QC-9|GLU|GLU^Glucose^LN|F|qc;71|GLU|GLU^Glucose^LN|P|";
    QTest::newRow("HL7: a calibrator (SPM-11 C) after its results")
        << "hl7"
        << QByteArray("MSH|^~\\&|LAW|LAB|||20261210||ORU^R01|Q2|P|2.5.1\rOBR|1||CAL-1|ALB\r"
                      "OBX|1|NM|ALB||4.0|g/dL|||||F\rSPM|1|CAL-1||SER|||||||C\r")
        << "CAL-1|ALB|ALB|F|qc";
}

void TestAnalyzers::quality_control_and_whole_test_ids_are_read() {
    QFETCH(QString, protocol);
    QFETCH(QByteArray, message);
    const QList<AnalyzerResult> results =
        protocol == "astm" ? astm::parse_message(message).results : hl7::parse_message(message).results;
    QStringList got;
    for (const AnalyzerResult& r : results)
        got << QStringList{r.lab_id, r.code, r.test_id, r.status, r.qc ? "qc" : ""}.join(u'|');
    QTEST(got.join(u';'), "results");
}

void TestAnalyzers::hl7_messages_are_read_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("problem");
    QTest::newRow("OBR-3 and OBX-3, -5, -6, -8")
        << oru("C1", "61", "OBX|1|NM|GLU^Glucose||95|mg/dl|70-110|N|||F\rOBX|2|NM|K||6.8|mmol/L||HH|||F\r")
        << "61|GLU|95|mg/dl|N;61|K|6.8|mmol/L|HH"
        << "";
    QTest::newRow("its own encoding characters and escapes")
        << QByteArray("MSH#$%@*#A#B###1##ORU$R01#C3#P#2.3\rOBR#1##63\rOBX#1#ST#NOTE##a@F@b@S@c@T@d#x$y\r")
        << "63|NOTE|a#b$c*d|x|"
        << "";
    QTest::newRow("not a result message") << QByteArray("MSH|^~\\&|A|B|||1||ADT^A01|C4|P|2.3\r") << ""
                                          << "not a result message";
    QTest::newRow("a result before its order")
        << QByteArray("MSH|^~\\&|A|B|||1||ORU^R01|C5|P|2.3\rOBX|1|NM|K||4\r") << ""
        << "before any OBR";
    QTest::newRow("no MSH") << QByteArray("PID|1\r") << ""
                            << "MSH";
}

// Each analyzer's sample id is read from the one place its section names,
// never from another field when that one is empty: a sample id read from the
// wrong field puts results on another patient's report.
void TestAnalyzers::the_sample_id_comes_from_its_one_place_data() {
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("place");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QString>("problem");
    const QByteArray astm_o3_empty = "H|\\^&\rP|1\rO|1||77|^^^ALB\rR|1|^^^ALB|63.7|g/L\rL|1\r";
    QTest::newRow("ASTM O3: empty, never O4 instead") << "astm"
                                                      << "O3" << astm_o3_empty << ""
                                                      << "place (O3) is empty";
    QTest::newRow("ASTM O4 where the section says so") << "astm"
                                                       << "O4" << astm_o3_empty << "77|ALB|63.7|g/L|"
                                                       << "";
    QTest::newRow("ASTM O3.2: counter^sample id")
        << "astm"
        << "O3.2" << QByteArray("H|\\^&\rO|1|12^5521^1\rR|1|^^^HBA1C|5.9|%\rL|1\r") << "5521|HBA1C|5.9|%|"
        << "";
    QTest::newRow("ASTM O3 of counter^sample id is the counter")
        << "astm"
        << "O3" << QByteArray("H|\\^&\rO|1|12^5521^1\rR|1|^^^HBA1C|5.9|%\rL|1\r") << "12|HBA1C|5.9|%|"
        << "";
    QTest::newRow("ASTM P3: the patient record's id")
        << "astm"
        << "P3" << QByteArray("H|\\^&\rP|1|808\rO|1\rR|1|^^^WBC|7.1\rL|1\r") << "808|WBC|7.1||"
        << "";
    QTest::newRow("ASTM P4, empty") << "astm"
                                    << "P4" << QByteArray("H|\\^&\rP|1|808\rO|1\rR|1|^^^WBC|7.1\rL|1\r") << ""
                                    << "place (P4) is empty";
    QTest::newRow("ASTM with LF line ends")
        << "astm"
        << "O3" << QByteArray("H|\\^&\nO|1|9\nR|1|^^^K|4.1|mmol/L\r\nL|1\n") << "9|K|4.1|mmol/L|"
        << "";
    QTest::newRow("ASTM value in parts: the first unless set")
        << "astm"
        << "O3" << QByteArray("H|\\^&\rO|1|9\rR|1|^^^HIV|0^0^8.8|S/CO\rL|1\r") << "9|HIV|0|S/CO|"
        << "";
    QTest::newRow("ASTM with no result") << "astm"
                                         << "O3" << QByteArray("H|\\^&\rO|1|9\rL|1\r") << ""
                                         << "holds no result";
    const QByteArray obr2_only =
        "MSH|^~\\&|A|B|||1||ORU^R01|C2|P|2.5\rPID|1||4711\rOBR|1|62||X\rOBX|1|NM|TSH||2.1|uIU/ml\r";
    QTest::newRow("HL7 OBR3: empty, never OBR-2 instead") << "hl7"
                                                          << "OBR3" << obr2_only << ""
                                                          << "place (OBR3) is empty";
    QTest::newRow("HL7 OBR2 where the section says so") << "hl7"
                                                        << "OBR2" << obr2_only << "62|TSH|2.1|uIU/ml|"
                                                        << "";
    QTest::newRow("HL7 PID3") << "hl7"
                              << "PID3" << obr2_only << "4711|TSH|2.1|uIU/ml|"
                              << "";
    QTest::newRow("HL7 SPM2 before its order (OUL^R22)")
        << "hl7"
        << "SPM2"
        << QByteArray("MSH|^~\\&|A|B|||1||OUL^R22|C3|P|2.5.1\rSPM|1|3301\rOBR|1\rOBX|1|NM|GLU||5.2|mmol/L\r"
                      "SPM|2|3302\rOBR|2\rOBX|1|NM|GLU||6.1|mmol/L\r")
        << "3301|GLU|5.2|mmol/L|;3302|GLU|6.1|mmol/L|"
        << "";
    QTest::newRow("HL7 SPM2 after its results (ORU^R01 2.5.1)")
        << "hl7"
        << "SPM2"
        << QByteArray("MSH|^~\\&|A|B|||1||ORU^R01|C4|P|2.5.1\rOBR|1\rOBX|1|NM|GLU||5.2|mmol/L\rSPM|1|3303\r")
        << "3303|GLU|5.2|mmol/L|"
        << "";
    QTest::newRow("HL7 SPM2 missing")
        << "hl7"
        << "SPM2" << QByteArray("MSH|^~\\&|A|B|||1||OUL^R24|C5|P|2.5.1\rOBR|1\rOBX|1|NM|GLU||5\r") << ""
        << "place (SPM2) is empty";
    QTest::newRow("HL7 with LF line ends")
        << "hl7"
        << "OBR3" << QByteArray("MSH|^~\\&|A|B|||1||ORU^R01|C6|P|2.3\nOBR|1||64\nOBX|1|NM|K||4.4|mmol/L\n")
        << "64|K|4.4|mmol/L|"
        << "";
    QTest::newRow("HL7 SN values keep their number")
        << "hl7"
        << "OBR3"
        << QByteArray("MSH|^~\\&|A|B|||1||ORU^R01|C8|P|2.5\rOBR|1||65\rOBX|1|SN|PLT||^182|10*9/L\r"
                      "OBX|2|SN|EGFR||>^90|mL/min\rOBX|3|SN|TITER||^1^:^128\r")
        << "65|PLT|182|10*9/L|;65|EGFR|>90|mL/min|;65|TITER|1:128||"
        << "";
    QTest::newRow("HL7 with no result")
        << "hl7"
        << "OBR3" << QByteArray("MSH|^~\\&|A|B|||1||ORU^R01|C7|P|2.3\rOBR|1||64\r") << ""
        << "holds no result";
}

void TestAnalyzers::the_sample_id_comes_from_its_one_place() {
    QFETCH(QString, protocol);
    QFETCH(QString, place);
    QFETCH(QByteArray, message);
    if (protocol == "astm" &&
        QTest::currentDataTag() == QLatin1String("ASTM value in parts: the first unless set"))
        QCOMPARE(parse_message(message, place, 3).results.value(0).value,
                 QString("8.8")); // value-component = 3
    if (protocol == "astm")
        compare_parsed(parse_message(message, place));
    else
        compare_parsed(hl7::parse_message(message, place));
}

void TestAnalyzers::hl7_messages_are_read() {
    QFETCH(QByteArray, message);
    const hl7::Parsed parsed = hl7::parse_message(message);
    compare_parsed(parsed);
    if (QTest::currentTestFailed()) return;
    // Every message is answered in its own encoding, naming its control id.
    const QByteArray ack =
        hl7::acknowledgement(message, parsed.problem.isEmpty() ? "AA" : "AR", parsed.problem);
    if (message.startsWith("MSH")) {
        const char f = message[3];
        QVERIFY(ack.startsWith("MSH" + message.mid(3, 5)));
        const QByteArray control = message.split(f).value(9);
        QVERIFY2(
            ack.contains(QByteArray("\rMSA") + f + (parsed.problem.isEmpty() ? "AA" : "AR") + f + control),
            ack.constData());
    }
    // Framed, split and joined anywhere, with noise between frames.
    const QByteArray stream = "noise" + hl7::frame(message) + "\r\n" + hl7::frame("MSH|^~\\&|2");
    for (int cut = 0; cut <= stream.size(); ++cut) {
        hl7::MllpReader reader;
        QList<QByteArray> got = reader.feed(stream.left(cut));
        got += reader.feed(stream.mid(cut));
        QCOMPARE(got, (QList<QByteArray>{message, "MSH|^~\\&|2"}));
    }
}

void TestAnalyzers::the_listener_stores_and_acknowledges_over_tcp() {
    Listener listener(
        database(),
        ini("[analyzer counter]\nprotocol=astm\nlisten=0\n"
            "[analyzer chemistry]\nprotocol=hl7\nlisten=0\nsample-id=obr3\nqc-samples=QC*, CTRL?\n"
            "[analyzer asking]\nprotocol=astm\nlisten=0\norders=query\n"
            "[analyzer broken]\nprotocol=smoke\nlisten=0\n"
            "[analyzer astray]\nprotocol=hl7\nlisten=0\nsample-id=O4\n"
            "[analyzer pushy]\nprotocol=astm\nlisten=0\norders=push\n"
            "[analyzer hurried]\nprotocol=hl7\nlisten=0\norders=push\npush-every=0\n"));
    const int astm_port = listener.port("counter"), hl7_port = listener.port("chemistry");
    const int asking_port = listener.port("asking");
    QVERIFY2(astm_port > 0 && hl7_port > 0 && asking_port > 0, qPrintable(listener.log()));
    for (const char* refused :
         {"not used: [analyzer broken]: protocol must be astm or hl7",
          "not used: [analyzer astray]: sample-id must be one of OBR3 | OBR2 | PID3 | PID2 | SPM2",
          "not used: [analyzer pushy]: orders = push is for HL7 analyzers (an ASTM analyzer asks: orders = "
          "query)",
          "not used: [analyzer hurried]: push-every must be a number of seconds, 1 to 3600"})
        QVERIFY2(listener.log().contains(refused), refused);

    QTcpSocket counter;
    counter.connectToHost("127.0.0.1", quint16(astm_port));
    QVERIFY(counter.waitForConnected(5000));
    QVERIFY(send_astm(counter, kRecords));
    QVERIFY(listener.wait_for("counter: message 1 stored: 4 results for lab id 42, 43, 44"));
    QCOMPARE(number_of("select count(*) from pending_results where lab_id = '42' and taken_at = ''"), 2);

    QTcpSocket chemistry;
    chemistry.connectToHost("127.0.0.1", quint16(hl7_port));
    QVERIFY(chemistry.waitForConnected(5000));
    // A lab id no report has and a code the codes file does not know are kept too.
    const QByteArray ack = send_hl7(chemistry, oru("CTRL-7", "9001", "OBX|1|NM|XYZ||12|u\r"));
    // The acknowledgement comes once the message is spooled; the database has it soon after.
    QVERIFY2(ack.contains("\rMSA|AA|CTRL-7"), ack.constData());
    QVERIFY(listener.wait_for("chemistry: message 2 stored"));
    QCOMPARE(number_of("select count(*) from pending_results where lab_id = '9001' and code = 'XYZ'"), 1);
    // Sent again (its sender had no acknowledgement): acknowledged again, stored once.
    const QByteArray again = send_hl7(chemistry, oru("CTRL-7", "9001", "OBX|1|NM|XYZ||12|u\r"));
    QVERIFY2(again.contains("\rMSA|AA|CTRL-7"), again.constData());
    QVERIFY(listener.wait_for("chemistry: message 2 came again (it had no acknowledgement)", 5000));
    QCOMPARE(number_of("select count(*) from pending_results where lab_id = '9001' and code = 'XYZ'"), 1);
    const QByteArray refused = send_hl7(chemistry, "MSH|^~\\&|A|B|||1||ADT^A01|CTRL-8|P|2.3\r");
    QVERIFY2(refused.contains("\rMSA|AR|CTRL-8|not a result message"), refused.constData());
    QVERIFY(listener.wait_for("chemistry: message 3 refused and kept: not a result message"));
    // Kept as it came, with why.
    const auto kept = select_first("select raw, problem, protocol from analyzer_messages where id = 3");
    QVERIFY(kept.ok() && kept.value);
    QCOMPARE(kept.value->value(0).toByteArray(), QByteArray("MSH|^~\\&|A|B|||1||ADT^A01|CTRL-8|P|2.3\r"));
    QVERIFY(kept.value->text(1).contains("ADT^A01"));
    QCOMPARE(kept.value->text(2), QString("hl7"));
    QCOMPARE(number_of("select count(*) from pending_results where message_id = 3"), 0);
    // An analyzer that hangs up in the middle of a message: what came is kept, no result of it waits.
    counter.write(QByteArray(1, kEnq) + frames(kRecords).value(0) + frames(kRecords).value(1));
    counter.waitForBytesWritten(5000);
    QTRY_COMPARE(counter.bytesAvailable(), 3); // ENQ and both frames acknowledged
    counter.disconnectFromHost();
    QVERIFY2(listener.wait_for("counter: message 4 refused and kept: incomplete: the connection closed"),
             qPrintable(listener.log()));
    chemistry.write("\x0bMSH|^~\\&|A|B|||1||ORU^R01|C9|P|2.3\rOBR|1||5\r");
    chemistry.waitForBytesWritten(5000);
    chemistry.disconnectFromHost();
    QVERIFY2(listener.wait_for("chemistry: message 5 refused and kept: incomplete"),
             qPrintable(listener.log()));
    QCOMPARE(number_of("select count(*) from pending_results where message_id >= 4"), 0);
    // A query for work is kept and answered "no information" (L|1|I) in a transfer of the listener's own.
    QTcpSocket asking;
    asking.connectToHost("127.0.0.1", quint16(astm_port));
    QVERIFY(asking.waitForConnected(5000));
    // The host's transfer in answer to a query: its frames as they came.
    auto answer_to = [&](QTcpSocket& line, const QByteArray& query) {
        if (!send_astm(line, query)) return QByteArray("(the query was not taken)");
        if (exchange(line, {}, 1) != QByteArray(1, kEnq)) return QByteArray("(no bid for the line)");
        QByteArray answered;
        for (QByteArray got = exchange(line, QByteArray(1, kAck), 1);
             got != QByteArray(1, kEot) && !got.isEmpty(); got = exchange(line, QByteArray(1, kAck), 1)) {
            got += line.readAll();
            while (!got.endsWith("\r\n") && line.waitForReadyRead(2000))
                got += line.readAll();
            answered += got;
        }
        return answered;
    };
    const QByteArray answered = answer_to(asking, "H|\\^&|||Counter\rQ|1|^0042||^^^ALL||||||||O\rL|1|N\r");
    QVERIFY2(answered.contains("L|1|I\r"), answered.constData());
    QVERIFY2(listener.wait_for("answered the analyzer's query: no information"), qPrintable(listener.log()));
    QCOMPARE(
        number_of("select count(*) from analyzer_messages where problem like 'a query for the analyzer%'"),
        1);
    // A query for an ordered sample's accession is answered with its order:
    // the patient, and the codes of its tests (the codes file read backwards).
    QVERIFY(add_patient(kStaff, minimal_patient(7, "Asha D'Souza", "34", "F")).ok());
    OrderRequest order;
    order.patient_id = 7;
    order.tests = {&catalogue::kBiochemistryReport};
    order.priority = Priority::Urgent;
    QCOMPARE(place_order(kStaff, order).value, QList<qint64>{1});
    const QByteArray query_a1 = "H|\\^&|||Counter\rQ|1|^A1||^^^ALL||||||||O\rL|1|N\r";
    // Not where the orders are off (the default)...
    QVERIFY(answer_to(asking, query_a1).contains("L|1|I\r"));
    // ... but where they are queried.
    QTcpSocket asking_orders;
    asking_orders.connectToHost("127.0.0.1", quint16(asking_port));
    QVERIFY(asking_orders.waitForConnected(5000));
    const QByteArray ordered = answer_to(asking_orders, query_a1);
    for (const char* part : {"P|1||7|||Asha D'Souza\r", "O|1|A1||^^^", "^^^GLU", "|S||", "L|1|N\r"})
        QVERIFY2(ordered.contains(part), ordered.constData());
    QVERIFY2(listener.wait_for("answered the analyzer's query: order A1"), qPrintable(listener.log()));
    QVERIFY(listener.log().contains(
        QRegularExpression("asking \\(127\\.0\\.0\\.1:\\d+\\): answered the analyzer's query: order A1")));
    // The instrument's own QC sample ids (qc-samples) keep their results apart.
    QTcpSocket again_chemistry;
    again_chemistry.connectToHost("127.0.0.1", quint16(hl7_port));
    QVERIFY(again_chemistry.waitForConnected(5000));
    QVERIFY(send_hl7(again_chemistry, oru("CTRL-9", "ctrl1", "OBX|1|NM|GLU||99|mg/dl\r")).contains("|AA|"));
    QVERIFY2(listener.wait_for("chemistry: message 9 stored: 0 results for lab id none; 1 quality-control "
                               "result (ctrl1)"),
             qPrintable(listener.log()));
    QCOMPARE(number_of("select count(*) from analyzer_qc where sample_id = 'ctrl1' and value = '99'"), 1);
    QCOMPARE(number_of("select count(*) from pending_results where message_id = 9"), 0);
}

void TestAnalyzers::nothing_is_half_stored_when_the_listener_dies() {
    const QString config = ini("[analyzer counter]\nprotocol=astm\nlisten=0\n");
    auto listener = std::make_unique<Listener>(database(), config);
    const int port = listener->port("counter");
    QVERIFY(port > 0);
    QTcpSocket line;
    line.connectToHost("127.0.0.1", quint16(port));
    QVERIFY(line.waitForConnected(5000));
    // The header, patient, order and a result are in; the listener dies before the L record.
    QVERIFY(send_astm(line, kRecords, 3));
    listener.reset();
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 0);
    QCOMPARE(number_of("select count(*) from pending_results"), 0);
    // Started again, it takes the analyzer's retransmission whole.
    Listener again(database(), config);
    QTcpSocket retry;
    retry.connectToHost("127.0.0.1", quint16(again.port("counter")));
    QVERIFY(retry.waitForConnected(5000));
    QVERIFY(send_astm(retry, kRecords));
    QVERIFY(again.wait_for("message 1 stored"));
    QCOMPARE(number_of("select count(*) from pending_results"), 4);
}

void TestAnalyzers::two_listeners_write_at_once() {
    Listener one(database(), ini("[analyzer first]\nprotocol=hl7\nlisten=0\n"));
    Listener two(database(), ini("[analyzer second]\nprotocol=hl7\nlisten=0\n"));
    const int ports[] = {one.port("first"), two.port("second")};
    QVERIFY(ports[0] > 0 && ports[1] > 0);
    constexpr int kEach = 40;
    auto analyzer = [&](int which) {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", quint16(ports[which]));
        if (!s.waitForConnected(5000)) return 0;
        int acked = 0;
        for (int i = 0; i < kEach; ++i) {
            const QString lab = QString::number(1000 * (which + 1) + i);
            acked += send_hl7(s, oru(lab, lab, "OBX|1|NM|HGB||13|g/dl\rOBX|2|NM|WBC||7000|/cumm\r"))
                         .contains("|AA|" + lab.toLatin1());
        }
        return acked;
    };
    QFuture<int> first = QtConcurrent::run(analyzer, 0), second = QtConcurrent::run(analyzer, 1);
    QCOMPARE(first.result() + second.result(), 2 * kEach);
    QTRY_COMPARE(number_of("select count(*) from analyzer_messages"), 2 * kEach);
    QCOMPARE(number_of("select count(distinct lab_id) from pending_results"), 2 * kEach);
    QCOMPARE(number_of("select count(*) from pending_results"), 4 * kEach);
    QCOMPARE(number_of("select count(*) from pending_results p left join analyzer_messages m on "
                       "m.id = p.message_id where m.id is null"),
             0);
}

void TestAnalyzers::a_serial_line_is_read_for_real() {
    const QString socat = QStandardPaths::findExecutable("socat");
    if (socat.isEmpty()) QFAIL("socat is needed (./test.sh installs it)");
    // Two linked pseudo-terminals: the analyzer's end and the listener's.
    const QString analyzer_end = folder_->path() + "/analyzer-tty", lis_end = folder_->path() + "/lis-tty";
    QProcess pair;
    auto link_pair = [&] {
        QFile::remove(analyzer_end);
        QFile::remove(lis_end);
        pair.start(socat,
                   {"-d", "-d", "pty,raw,echo=0,link=" + analyzer_end, "pty,raw,echo=0,link=" + lis_end});
        QElapsedTimer t;
        t.start();
        while (!(QFile::exists(analyzer_end) && QFile::exists(lis_end)) && t.elapsed() < 10000)
            QTest::qWait(50);
        return QFile::exists(lis_end) && QFile::exists(analyzer_end);
    };
    QVERIFY(link_pair());
    Listener listener(database(), ini("[analyzer counter]\nprotocol=astm\nserial=" + lis_end +
                                      "\nbaud=9600\nparity=none\ndata-bits=8\nstop-bits=1\n"));
    QVERIFY2(listener.wait_for("counter: listening for ASTM on " + lis_end), qPrintable(listener.log()));
    {
        QSerialPort line(analyzer_end);
        line.setBaudRate(9600);
        QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));
        QVERIFY(send_astm(line, kRecords));
        QVERIFY2(listener.wait_for("counter: message 1 stored: 4 results"), qPrintable(listener.log()));
        QCOMPARE(number_of("select count(*) from pending_results where lab_id = '44' and code = 'K'"), 1);
    }
    // The line goes away (a USB adapter pulled out) and comes back: the listener takes it up again.
    pair.terminate();
    pair.waitForFinished();
    QVERIFY2(listener.wait_for("counter: the serial line " + lis_end + " went away"),
             qPrintable(listener.log()));
    QVERIFY(link_pair());
    QVERIFY2(listener.wait_for("counter: the serial line " + lis_end + " is back"),
             qPrintable(listener.log()));
    QSerialPort line(analyzer_end);
    line.setBaudRate(9600);
    QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));
    // It sends its message again (it had no acknowledgement): taken as the same one, not stored twice.
    QVERIFY(send_astm(line, kRecords));
    QVERIFY2(listener.wait_for("counter: message 1 came again (it had no acknowledgement): acknowledged, not "
                               "stored again"),
             qPrintable(listener.log()));
    QCOMPARE(number_of("select count(*) from pending_results where lab_id = '44' and code = 'K'"), 1);
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 1);
    line.close();
    listener.stop();
    pair.terminate();
    pair.waitForFinished();
}

void TestAnalyzers::a_folder_is_read_file_by_file() {
    const QString inbox = folder_->path() + "/inbox";
    QVERIFY(QDir().mkpath(inbox));
    Listener listener(database(), ini("[analyzer reader]\nprotocol=hl7\nfolder=" + inbox + "\n"));
    QVERIFY(listener.wait_for("reader: watching the folder"));
    auto drop = [&](const QString& name, const QByteArray& bytes) {
        QFile f(inbox + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    drop("a.hl7", oru("F1", "71", "OBX|1|NM|TSH||2.1|uIU/ml\r"));
    drop("b.hl7", "not a message");
    QVERIFY2(listener.wait_for("reader: message 2 refused and kept"), qPrintable(listener.log()));
    QVERIFY(listener.log().contains("reader: message 1 stored: 1 result for lab id 71"));
    // Each file is read once: it moves into "stored".
    QTRY_VERIFY(QFile::exists(inbox + "/stored/a.hl7") && QFile::exists(inbox + "/stored/b.hl7"));
    QVERIFY(QDir(inbox).entryList(QDir::Files).isEmpty());
    QTest::qWait(2500);
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 2);

    // A link is never followed, whatever it points to; a file past the bound
    // is kept in part, refused.
    QVERIFY(QFile::link("/etc/passwd", inbox + "/passwd.hl7"));
    drop("huge.hl7", "MSH|^~\\&|" + QByteArray(kMostMessageBytes + 10, 'x'));
    QVERIFY2(listener.wait_for("reader: message 3 refused and kept: incomplete: longer than 1048576 bytes"),
             qPrintable(listener.log()));
    QTest::qWait(2500);
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 3);
    QCOMPARE(number_of("select length(raw) from analyzer_messages where id = 3"), kKeptOfTooLong);
    QVERIFY(QFileInfo(inbox + "/passwd.hl7").isSymLink()); // left where it is, unread
    QVERIFY(!listener.log().contains("passwd.hl7"));
}

// A frame longer than LIS1-A's 247 characters is taken (instruments send
// them); a message past the analyzer's bound is kept in part with the reason
// and its connection cut, over ASTM and HL7 alike.
void TestAnalyzers::messages_are_bounded_and_long_frames_taken() {
    Listener listener(database(), ini("[analyzer long]\nprotocol=astm\nlisten=0\nmax-message=4096\n"
                                      "[analyzer endless]\nprotocol=hl7\nlisten=0\nmax-message=4096\n"
                                      "[analyzer huge]\nprotocol=hl7\nlisten=0\n"));
    const int astm_port = listener.port("long"), hl7_port = listener.port("endless");
    QVERIFY2(astm_port > 0 && hl7_port > 0, qPrintable(listener.log()));
    QTcpSocket line;
    line.connectToHost("127.0.0.1", quint16(astm_port));
    QVERIFY(line.waitForConnected(5000));
    const QByteArray comment = "C|1|I|" + QByteArray(900, 'c') + "|G";
    const QByteArray records = "H|\\^&\rO|1|88\r" + comment + "\rR|1|^^^K|4.2|mmol/L\rL|1\r";
    QCOMPARE(exchange(line, QByteArray(1, kEnq)), acks(1));
    QCOMPARE(exchange(line, frame(1, records, true)), acks(1)); // one frame of about 960 bytes
    line.write(QByteArray(1, kEot));
    QVERIFY2(listener.wait_for("long: message 1 stored: 1 result for lab id 88"), qPrintable(listener.log()));
    // Past the bound: refused, kept in part, the line cut.
    QCOMPARE(exchange(line, QByteArray(1, kEnq)), acks(1));
    const QByteArray big = "H|\\^&\rO|1|89\r" + QByteArray(5000, 'z') + "\r";
    QCOMPARE(exchange(line, frame(1, big, false)), QByteArray(1, kNak));
    QVERIFY(listener.wait_for("long: message 2 refused and kept: incomplete: longer than 4096 bytes"));
    QTRY_VERIFY(line.state() == QAbstractSocket::UnconnectedState);

    QTcpSocket endless;
    endless.connectToHost("127.0.0.1", quint16(hl7_port));
    QVERIFY(endless.waitForConnected(5000));
    endless.write(QByteArray(1, hl7::kStart) + "MSH|^~\\&|" + QByteArray(20000, 'e'));
    QVERIFY(endless.waitForBytesWritten(5000));
    QVERIFY2(listener.wait_for("endless: message 3 refused and kept: incomplete: longer than 4096 bytes"),
             qPrintable(listener.log()));
    QTRY_VERIFY(endless.state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 3);

    // A connection of noise (runs of bytes framed as messages, none a message, and one unfinished) leaves one
    // row.
    QTcpSocket noise;
    noise.connectToHost("127.0.0.1", quint16(hl7_port));
    QVERIFY(noise.waitForConnected(5000));
    for (int i = 0; i < 5; ++i)
        noise.write(hl7::frame("\x01\x7f garbage " + QByteArray::number(i)));
    noise.write("\x0b\x02 and a last run with no end");
    QVERIFY(noise.waitForBytesWritten(5000));
    noise.disconnectFromHost();
    QVERIFY2(listener.wait_for("5 more runs of bytes that were no message, not kept"),
             qPrintable(listener.log()));
    QTRY_COMPARE(number_of("select count(*) from analyzer_messages"), 4);

    // A 100 MB message without an end, at the default bound (1 MB): cut off
    // after the first megabyte, its first 64 kB kept, never held whole.
    QTcpSocket huge;
    huge.connectToHost("127.0.0.1", quint16(listener.port("huge")));
    QVERIFY(huge.waitForConnected(5000));
    const QByteArray chunk(1 << 20, 'h');
    huge.write(QByteArray(1, hl7::kStart) + "MSH|^~\\&|");
    qint64 sent = 0;
    for (int i = 0; i < 100 && huge.state() == QAbstractSocket::ConnectedState; ++i) {
        huge.write(chunk);
        huge.waitForBytesWritten(2000);
        sent += chunk.size();
    }
    QVERIFY2(listener.wait_for("huge: message 5 refused and kept: incomplete: longer than 1048576 bytes"),
             qPrintable(listener.log()));
    QTRY_COMPARE(number_of("select length(raw) from analyzer_messages where analyzer = 'huge'"),
                 kKeptOfTooLong);
    QFile status(QStringLiteral("/proc/%1/status").arg(listener.pid()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QRegularExpression peak(QStringLiteral("VmHWM:\\s+(\\d+) kB"));
    const int peak_kb = peak.match(QString::fromLatin1(status.readAll())).captured(1).toInt();
    QVERIFY2(peak_kb > 0 && peak_kb < 64 * 1024,
             qPrintable(QStringLiteral("%1 kB after %2 MB sent").arg(peak_kb).arg(sent >> 20)));
}

void TestAnalyzers::several_analyzers_on_one_port_are_named_by_their_headers() {
    QCOMPARE(hl7::sender_name(oru("C1", "61", "")), QString("CHEM LAB")); // MSH-3 and MSH-4
    QCOMPARE(astm::sender_name("H|\\^&|||\rL|1\r"), QString());           // none: the section's name
    Listener listener(database(), ini("[analyzer shared port]\nprotocol=astm\nlisten=0\nsender=header\n"
                                      "[analyzer odd]\nprotocol=astm\nlisten=0\nsender=both\n"));
    const int port = listener.port("shared port");
    QVERIFY2(port > 0, qPrintable(listener.log()));
    QVERIFY(listener.log().contains("not used: [analyzer odd]: sender must be section or header"));
    QTcpSocket line;
    line.connectToHost("127.0.0.1", quint16(port));
    QVERIFY(line.waitForConnected(5000));
    QVERIFY(send_astm(line, kRecords));
    QVERIFY2(listener.wait_for("Counter: message 1 stored: 4 results"), qPrintable(listener.log()));
    QCOMPARE(number_of("select count(*) from analyzer_messages where analyzer = 'Counter'"), 1);
}

namespace {

// The rows of a tab-separated table of the instrument messages' folder.
QList<QStringList> table(const QString& name) {
    QFile f(QStringLiteral(INSTRUMENT_MESSAGES_DIR "/") + name);
    QList<QStringList> rows;
    if (!f.open(QIODevice::ReadOnly)) return rows;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith('#')) rows << QString::fromUtf8(line).split(u'\t');
    return rows;
}

} // namespace

// Twenty messages real instruments sent (autotests/instrument_messages, each
// with its source), over TCP, a serial line and the folder, each as its
// instrument frames it and with its line ends: every result is stored, for
// the sample id its analyzer's settings name, with the value, unit and flag
// the instrument meant, and quality control apart.
void TestAnalyzers::real_instruments_reach_the_right_boxes() {
    const QList<QStringList> messages = table("messages.tsv"), expected = table("results.tsv");
    QCOMPARE(messages.size(), 20);
    const QString socat = QStandardPaths::findExecutable("socat");
    if (socat.isEmpty()) QFAIL("socat is needed (./test.sh installs it)");
    const QString analyzer_end = folder_->path() + "/instrument-tty", lis_end = folder_->path() + "/lis-tty";
    QProcess pair;
    pair.start(socat, {"-d", "-d", "pty,raw,echo=0,link=" + analyzer_end, "pty,raw,echo=0,link=" + lis_end});
    QTRY_VERIFY(QFile::exists(analyzer_end) && QFile::exists(lis_end));
    QString sections;
    for (const QStringList& m : messages) {
        const QString& via = m[4];
        sections += QStringLiteral("[analyzer %1]\nprotocol=%2\nsample-id=%3\n").arg(m[0], m[1], m[2]);
        if (m[3] != "-") sections += "qc-samples=" + m[3] + "\n";
        sections += via == "tcp"      ? QStringLiteral("listen=0\n")
                    : via == "serial" ? "serial=" + lis_end + "\n"
                                      : "folder=" + folder_->path() + "/inbox-" + m[0] + "\n";
        if (via == "folder") QVERIFY(QDir().mkpath(folder_->path() + "/inbox-" + m[0]));
    }
    Listener listener(database(), ini(sections));
    for (const QStringList& m : messages) {
        QFile file(QStringLiteral(INSTRUMENT_MESSAGES_DIR "/") + m[0] + (m[1] == "astm" ? ".astm" : ".hl7"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QByteArray text = file.readAll();
        if (m[5] != "lf") text.replace("\n", m[5] == "cr" ? "\r" : "\r\n");
        const QString& via = m[4];
        QTcpSocket socket;
        QSerialPort port(analyzer_end);
        QIODevice* line = &socket;
        if (via == "tcp") {
            const int at = listener.port(m[0]);
            QVERIFY2(at > 0, qPrintable(listener.log()));
            socket.connectToHost("127.0.0.1", quint16(at));
            QVERIFY(socket.waitForConnected(5000));
        } else if (via == "serial") {
            QVERIFY2(listener.wait_for(m[0] + ": listening for"), qPrintable(listener.log()));
            QVERIFY(port.open(QIODevice::ReadWrite));
            line = &port;
        } else {
            QVERIFY2(listener.wait_for(m[0] + ": watching the folder"), qPrintable(listener.log()));
            QFile drop(folder_->path() + "/inbox-" + m[0] + "/message." + m[1]);
            QVERIFY(drop.open(QIODevice::WriteOnly) && drop.write(text) == text.size());
            continue;
        }
        if (m[1] == "hl7") {
            const QByteArray ack = send_hl7(socket, text);
            QVERIFY2(ack.contains("|AA|"), ack.constData());
            continue;
        }
        // As the instrument frames it: every record in one frame, or a frame per record.
        QCOMPARE(exchange(*line, QByteArray(1, kEnq)), acks(1));
        const QList<QByteArray> fs = m[6] == "whole" ? QList<QByteArray>{frame(1, text, true)} : frames(text);
        for (const QByteArray& f : fs)
            QCOMPARE(exchange(*line, f), acks(1));
        line->write(QByteArray(1, kEot));
        if (auto* socket_line = qobject_cast<QAbstractSocket*>(line))
            socket_line->waitForBytesWritten(5000);
        else
            static_cast<QSerialPort*>(line)->waitForBytesWritten(5000);
        QTest::qWait(50);
    }
    QTRY_COMPARE_WITH_TIMEOUT(number_of("select count(*) from analyzer_messages"), int(messages.size()),
                              30000);
    const QString of_analyzer =
        " AS r JOIN analyzer_messages AS m ON m.id = r.message_id WHERE m.analyzer = ?";
    for (const QStringList& m : messages) {
        QVERIFY2(number_of("select count(*) from pending_results" + of_analyzer, {m[0]}) == m[7].toInt(),
                 qPrintable(m[0] + "\n" + listener.log()));
        QVERIFY2(number_of("select count(*) from analyzer_qc" + of_analyzer, {m[0]}) == m[8].toInt(),
                 qPrintable(m[0]));
        QVERIFY2(number_of("select count(*) from analyzer_messages where analyzer = ? and problem like ?",
                           {m[0], m[9] == "-" ? QStringLiteral("") : m[9] + "%"}) == 1,
                 qPrintable(m[0]));
    }
    for (const QStringList& e : expected) {
        const bool qc = e.value(6) == "qc";
        const int found = number_of(
            QStringLiteral(
                "select count(*) from %1%2 and r.%3 = ? and (r.code = ? or r.test_id = ?) and r.value = ? "
                "and r.units = ? and r.flag = ?")
                .arg(qc ? "analyzer_qc" : "pending_results", of_analyzer, qc ? "sample_id" : "lab_id"),
            {e[0], e[1], e[2], e[2], e[3], e[4], e[5]});
        QVERIFY2(found == 1, qPrintable(e.join(" | ") + "\n" + listener.log()));
    }
    pair.terminate();
    pair.waitForFinished();
}

void TestAnalyzers::a_database_that_takes_nothing_costs_a_wait_not_a_result_data() {
    QTest::addColumn<bool>("stop_server");
    QTest::addColumn<int>("seconds");
    // The file held busy; on the server run, the server stopped.
    if (!testing_on_server())
        QTest::newRow("the database busy for 20 s") << false << 20;
    else
        QTest::newRow("the server stopped for 10 s") << true << 10;
}

// While the database takes nothing, the analyzers are answered at once (from
// the spool); every message is stored once it takes them again.
void TestAnalyzers::a_database_that_takes_nothing_costs_a_wait_not_a_result() {
    QFETCH(bool, stop_server);
    QFETCH(int, seconds);
    Listener listener(database(), ini("[analyzer chemistry]\nprotocol=hl7\nlisten=0\n"
                                      "[analyzer counter]\nprotocol=astm\nlisten=0\n"));
    const int hl7_port = listener.port("chemistry"), astm_port = listener.port("counter");
    QVERIFY2(hl7_port > 0 && astm_port > 0, qPrintable(listener.log()));
    QSqlDatabase other = folder_->other_workstation();
    if (stop_server)
        folder_->server_stopped(true);
    else
        QVERIFY(take_write_lock_at_once(other).ok());
    QElapsedTimer held;
    held.start();
    QTcpSocket chemistry, counter;
    chemistry.connectToHost("127.0.0.1", quint16(hl7_port));
    counter.connectToHost("127.0.0.1", quint16(astm_port));
    QVERIFY(chemistry.waitForConnected(5000) && counter.waitForConnected(5000));
    qint64 longest_answer = 0;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer answer;
        answer.start();
        if (i % 6 == 5) { // every sixth from the ASTM analyzer
            QByteArray records = kRecords;
            QVERIFY(send_astm(counter,
                              records.replace("20261209101500", QByteArray::number(20261209101500 + i))));
        } else {
            const QString lab = QString::number(700 + i);
            QVERIFY(send_hl7(chemistry, oru("B" + lab, lab, "OBX|1|NM|ALB||4.1|g/dl\r"))
                        .contains("|AA|B" + lab.toLatin1()));
        }
        longest_answer = std::max(longest_answer, answer.elapsed());
        QTest::qWait(seconds * 500 / 30); // they arrive over the first half of the wait
    }
    QVERIFY2(longest_answer < 2000, qPrintable(QString::number(longest_answer)));
    QVERIFY2(listener.wait_for("wait: the database takes nothing now"), qPrintable(listener.log()));
    QTest::qWait(int(std::max<qint64>(0, seconds * 1000 - held.elapsed())));
    if (stop_server)
        folder_->server_stopped(false);
    else
        QSqlQuery(other).exec("ROLLBACK");
    QVERIFY2(listener.wait_for("the database takes messages again", 20000), qPrintable(listener.log()));
    QTRY_COMPARE(number_of("select count(*) from analyzer_messages"), 30);
    QCOMPARE(number_of("select count(*) from pending_results"), 25 + 5 * 4);
    QCOMPARE(number_of("select count(distinct lab_id) from pending_results where code = 'ALB'"), 25);
}

// The listener killed at random while an analyzer sends (and sends again what
// it had no answer for): every message acknowledged is stored, and none twice.
void TestAnalyzers::every_acknowledged_message_is_stored_once_however_the_listener_dies() {
    const QString config = ini("[analyzer chemistry]\nprotocol=hl7\nlisten=0\n");
    {
        Listener one(database(), config), two(database(), config);
        QVERIFY(one.wait_for("listening for") || two.wait_for("listening for"));
        QVERIFY(one.wait_for("another tavora-lab-analyzer uses the spool folder", 3000) ||
                two.wait_for("another tavora-lab-analyzer uses the spool folder", 3000));
    }
    QRandomGenerator random(29);
    QSet<QString> acknowledged;
    int next = 0, killed_before_answering = 0;
    QString unanswered;
    for (int round = 0; round < 50; ++round) {
        Listener listener(database(), config);
        const int port = listener.port("chemistry");
        QVERIFY2(port > 0, qPrintable(listener.log()));
        QTcpSocket line;
        line.connectToHost("127.0.0.1", quint16(port));
        QVERIFY(line.waitForConnected(5000));
        const qint64 pid = listener.pid();
        const int after_ms = random.bounded(10, 150);
        QFuture<void> kill = QtConcurrent::run([pid, after_ms] {
            QThread::msleep(after_ms);
            ::kill(pid_t(pid), SIGKILL);
        });
        while (true) {
            const QString control = unanswered.isEmpty() ? QStringLiteral("K%1").arg(next++) : unanswered;
            unanswered = control;
            const QByteArray ack =
                send_hl7(line, oru(control, QString::number(5000 + next), "OBX|1|NM|K||4.1|mmol/L\r"));
            if (!ack.contains("|AA|" + control.toLatin1())) break;
            acknowledged << control;
            unanswered.clear();
        }
        killed_before_answering += !unanswered.isEmpty();
        kill.waitForFinished();
        listener.stop();
    }
    Listener last(database(), config); // takes what the others left in the spool first
    QVERIFY2(last.wait_for("listening for"), qPrintable(last.log()));
    QVERIFY2(acknowledged.size() > 50, qPrintable(QString::number(acknowledged.size())));
    QCOMPARE(number_of("select count(*) from analyzer_messages"),
             number_of("select count(distinct message_key) from analyzer_messages"));
    for (const QString& control : acknowledged) {
        const QString key = hl7::message_key(oru(control, "0", ""));
        QVERIFY2(number_of("select count(*) from analyzer_messages where message_key = '" + key + "'") == 1,
                 qPrintable(control));
    }
    qInfo("%d messages acknowledged over 50 kills; %d kills came with a message unanswered",
          int(acknowledged.size()), killed_before_answering);
}

// An HL7 analyzer set to take its orders pushed (orders=push) is sent each
// received sample's order over its connection (OML^O21), until it
// acknowledges it; a sample not yet received is not sent, and the
// acknowledgement is no message to keep.
void TestAnalyzers::received_orders_are_pushed_to_an_analyzer_that_takes_them() {
    Listener listener(database(),
                      ini("[analyzer chemistry]\nprotocol=hl7\nlisten=0\norders=push\npush-every=1\n"));
    const int port = listener.port("chemistry");
    QVERIFY2(port > 0, qPrintable(listener.log()));
    QVERIFY(listener.wait_for("chemistry: orders are pushed to it (OML^O21), looked for every 1 s"));
    QTcpSocket analyzer;
    analyzer.connectToHost("127.0.0.1", quint16(port));
    QVERIFY(analyzer.waitForConnected(5000));
    QVERIFY(add_patient(kStaff, minimal_patient(7, "Asha D'Souza", "34", "F")).ok());
    OrderRequest order;
    order.patient_id = 7;
    order.tests = {&catalogue::kBiochemistryReport};
    QCOMPARE(place_order(kStaff, order).value, QList<qint64>{1});
    // Ordered, not yet received: nothing goes.
    QVERIFY(!listener.wait_for("chemistry: sent the order", 2500));
    QVERIFY(mark_received(kStaff, 1).ok());
    QVERIFY2(listener.wait_for("chemistry: sent the order A1"), qPrintable(listener.log()));
    hl7::MllpReader reader;
    QList<QByteArray> got;
    QElapsedTimer waited;
    waited.start();
    while (got.isEmpty() && waited.elapsed() < 5000)
        if (analyzer.bytesAvailable() || analyzer.waitForReadyRead(200))
            got = reader.feed(analyzer.readAll());
    QVERIFY(!got.isEmpty());
    const QByteArray oml = got[0];
    for (const char* part :
         {"|OML^O21^OML_O21|", "\rPID|1||7||Asha D'Souza\r", "\rORC|NW|A1\r", "\rOBR|1|A1||GLU^^L|R\r"})
        QVERIFY2(oml.contains(part), oml.constData());
    const QByteArray control = oml.split('|').value(9);
    QVERIFY(control.startsWith("A1-"));
    // Acknowledged: noted, never kept as a message, not sent again.
    analyzer.write(hl7::frame("MSH|^~\\&|CHEM|LAB|TAVORA LAB|LAB|20261210||ACK^O21|K1|P|2.5.1\rMSA|AA|" +
                              control + "\r"));
    QVERIFY(analyzer.waitForBytesWritten(5000));
    QVERIFY2(listener.wait_for("chemistry: the order " + QString::fromLatin1(control) + " was acknowledged"),
             qPrintable(listener.log()));
    QCOMPARE(number_of("select count(*) from order_pushes where accession = 1 and analyzer = 'chemistry' and "
                       "acknowledged_at <> ''"),
             1);
    QCOMPARE(number_of("select count(*) from analyzer_messages"), 0);
    QTest::qWait(2500);
    QCOMPARE(listener.log().count("sent the order A1"), 1);
}

TAVORA_DATA_TEST_MAIN(TestAnalyzers)
#include "test_analyzers.moc"
