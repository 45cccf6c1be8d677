#pragma once

#include "analyzer_message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

// ASTM as the analyzers speak it: the low level of CLSI LIS1-A (ENQ, framed
// text with a checksum, ACK or NAK per frame, EOT) and the records of LIS2-A2
// (H header, P patient, O order, R result, C comment, L terminator).

namespace astm {

inline constexpr char kEnq = 0x05, kAck = 0x06, kNak = 0x15, kEot = 0x04, kStx = 0x02, kEtx = 0x03,
                      kEtb = 0x17, kCr = 0x0d, kLf = 0x0a;
// Text a frame carries at most (LIS1-A: 247 characters in all).
inline constexpr int kFrameText = 240;
// How long a sender waits for the answer to its bid or frame (LIS1-A: 15 s).
inline constexpr int kSenderTimeoutMs = 15000;

// The two hex digits of a frame's checksum: the sum modulo 256 of every byte
// from the frame number to the ETX or ETB, both included.
QByteArray checksum(QByteArrayView number_to_end);
// One frame: STX FN text ETB|ETX C1 C2 CR LF (ETX on a record's last frame).
QByteArray frame(int number, QByteArrayView text, bool last);
// A message's records (each ended by CR) as the frames that send them, from
// frame number 1, a record longer than a frame split over several.
QList<QByteArray> frames(QByteArrayView records);

// Where an analyzer puts the sample id (the report's lab id): O3 (the order
// record's specimen id, the standard's place), O4 (the instrument's specimen
// id), P3 or P4 (the patient record's practice or laboratory patient id), each
// whole (its first component) or one component of it, counted from 1: O3.2
// for an analyzer that sends "counter^sample id", O4.3 for one that sends
// "rack^position^sample id". Never another place instead: a sample id read
// from the wrong field puts results on another patient's report.
inline const QStringList kSampleIdPlaces = {QStringLiteral("O3"), QStringLiteral("O3.2"),
                                            QStringLiteral("O4"), QStringLiteral("O4.3"),
                                            QStringLiteral("P3"), QStringLiteral("P4")};
struct SampleIdPlace {
    char record = 'O';
    int field = 3;
    int component = 1;
};
// The place a sample-id setting names (any of O3, O4, P3, P4 with an
// optional .N), or nothing.
std::optional<SampleIdPlace> sample_id_place(const QString& name);

// The results of one message (H ... L), or why it cannot be read. Records
// may end with CR, LF or CR LF.
struct Parsed {
    QList<AnalyzerResult> results;
    QString problem;
};
// `value_component`: which component (from 1) of a result's value holds it,
// for an analyzer that sends the value in parts; 0: the first non-empty one.
Parsed parse_message(QByteArrayView records, const QString& sample_id = QStringLiteral("O3"),
                     int value_component = 0);

// The sender's name in a message's header record (H-5, its first
// component); empty when it names none.
QString sender_name(QByteArrayView records);

// Whether a message asks for the analyzer's work (a request information, Q,
// record), and the host's answer while it has no orders to give: a header and
// a terminator whose code is I ("no information available from last query").
bool is_query(QByteArrayView records);
QByteArray no_information_reply();
// The sample a query asks about: its Q record's starting range, the
// specimen id (its second component) or else its first one given.
QString query_sample_id(QByteArrayView records);
// The host's answer to a query for a sample it has an order for: a header, the
// patient (P), one order record (O) for the sample with a universal test id
// (^^^code) per test code, repeated, and a terminator. Text that would hold a
// delimiter is sent with it replaced by a blank.
QByteArray order_reply(const OrderForAnalyzer& order);

} // namespace astm

// The receiving side of the line. Bytes go in as they arrive, split or joined
// anywhere; what to send back comes out. A complete message (H to L) is handed
// to `deliver` before its last frame is acknowledged: when it cannot be stored
// that frame is refused (NAK) and the analyzer sends it again. What was
// received of a message that never ended (EOT, ENQ or silence before its L
// record) goes to `abandon` with the reason.
//
// The program bids for the line only to answer (a query's reply, queued by
// send()): once the line is idle it sends ENQ, then each frame as the last is
// acknowledged (again on NAK, up to six times), then EOT. When both sides bid
// at once the analyzer has the line, as the standard gives the instrument
// priority, and the answer waits for the line to be idle again; an answer
// not taken after three bids is given up, in the log.
class AstmLink {
public:
    using Deliver = std::function<bool(const QByteArray& records)>;
    using Abandon = std::function<void(const QByteArray& records, const QString& why)>;
    using Log = std::function<void(const QString& line)>;

    // `most`: the longest message taken (frames may be as long: LIS1-A's 247
    // characters are a maximum many instruments exceed). A longer one is
    // kept in part (its first kKeptOfTooLong bytes) with the reason, the
    // transfer is refused, and cut() says the line is to be cut.
    AstmLink(Deliver deliver, Abandon abandon, Log log = {}, int receiver_timeout_ms = 30000,
             qsizetype most = kMostMessageBytes);

    // The bytes received at `now_ms` (a steady clock); returns what to send back.
    QByteArray receive(QByteArrayView bytes, qint64 now_ms);
    // Ends a transfer that has been silent past the receiver's timeout.
    void tick(qint64 now_ms);
    // The line went away (the analyzer hung up): what came of an unfinished
    // message is kept as incomplete.
    void line_closed();
    // When tick must run next (-1: no transfer open).
    qint64 deadline() const;
    bool idle() const { return state_ == State::Idle; }
    // Whether a message grew past the bound since last asked.
    bool take_cut() { return std::exchange(cut_, false); }
    // Queues a message (its records) to send once the line is free; the log
    // says "answered the analyzer's query: " and `what` once it is taken.
    void send(const QByteArray& records, const QString& what = QStringLiteral("no information"));
    // What to send now of our own (a bid for the line, an EOT after a
    // silence), at `now_ms`.
    QByteArray take_output(qint64 now_ms);

private:
    enum class State { Idle, Transfer, Bidding, Sending };
    void answer_sent(bool taken, const QString& why = {});
    QByteArray sending_reply(char c, qint64 now_ms);
    QByteArray take_frame(const QByteArray& frame);
    bool accept_text(QByteArrayView text, bool last);
    QByteArray refuse_too_long(QByteArrayView text);
    void end_transfer(const QString& why);

    Deliver deliver_;
    Abandon abandon_;
    Log log_;
    int timeout_ms_;
    qsizetype most_;
    bool cut_ = false;
    State state_ = State::Idle;
    qint64 last_ms_ = 0;
    int expected_ = 1;      // frame number expected next
    int failures_ = 0;      // NAKs in a row
    QByteArray frame_;      // a frame being received (from STX)
    bool in_frame_ = false; // between STX and the frame's LF
    QByteArray record_;     // a record not ended yet
    QByteArray message_;    // the records of the message being received
    QByteArray accepted_;   // the last frame taken: sent again when our ACK was lost
    // A frame refused after it delivered messages: as many are skipped when
    // the same frame comes again.
    QByteArray refused_frame_;
    int delivered_of_refused_ = 0;
    int delivered_this_frame_ = 0;
    int skip_ = 0;
    // Our own messages to send, the frames of the first, the next to send.
    QList<QByteArray> outbox_;
    QStringList outbox_what_;
    QList<QByteArray> out_frames_;
    int out_next_ = 0;
    int out_failures_ = 0;
    int out_bids_ = 0;
    qint64 bid_after_ = 0;
    QByteArray output_; // EOT after a silence, waiting for take_output
};
