#pragma once

#include "analyzer_message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// HL7 version 2 as the analyzers send results: ORU^R01 messages in MLLP
// frames (0x0B message 0x1C 0x0D), each answered by an ACK once it is stored.

namespace hl7 {

inline constexpr char kStart = 0x0b, kEnd = 0x1c, kCr = 0x0d;

QByteArray frame(QByteArrayView message);

// Cuts the bytes of a connection into messages, split or joined anywhere;
// bytes before a frame's start are dropped.
class MllpReader {
public:
    explicit MllpReader(qsizetype most = kMostMessageBytes) : most_(most) {}
    QList<QByteArray> feed(QByteArrayView bytes);
    bool inside_message() const { return !buffer_.isEmpty(); }
    // What came of a message whose frame never ended (without its start byte).
    QByteArray unfinished() const { return buffer_.mid(1); }
    // The first kKeptOfTooLong bytes of a message that grew past the bound
    // (once; the rest of it is not read): the connection is to be cut.
    std::optional<QByteArray> take_too_long() { return std::exchange(too_long_, std::nullopt); }

private:
    qsizetype most_;
    QByteArray buffer_; // from a frame's start byte, while its end has not come
    std::optional<QByteArray> too_long_;
};

// Where an analyzer puts the sample id (the report's lab id): OBR3 (the
// filler's order number, the usual place), OBR2 (the placer's), PID3 (the
// patient's id), PID2 (the patient's external id, where some point-of-care
// analyzers put the sample's) or SPM2 (the specimen's id). Never another
// place instead.
inline const QStringList kSampleIdPlaces = {QStringLiteral("OBR3"), QStringLiteral("OBR2"),
                                            QStringLiteral("PID3"), QStringLiteral("PID2"),
                                            QStringLiteral("SPM2")};

// The results of an ORU^R01, OUL^R22 or OUL^R24 (the lab id from the place
// `sample_id` names; code, value, units and abnormal flag from OBX-3, -5, -6
// and -8), or why it cannot be read. Segments may end with CR, LF or CR LF.
struct Parsed {
    QList<AnalyzerResult> results;
    QString problem;
};
Parsed parse_message(QByteArrayView message, const QString& sample_id = QStringLiteral("OBR3"));

// What names a message wherever it is sent again: its sending application
// and facility (MSH-3, MSH-4) with its control id (MSH-10) and time (MSH-7);
// empty without a control id.
QString message_key(QByteArrayView message);

// The sending application (MSH-3) and, when given, facility (MSH-4) of a
// message, as "application facility"; empty when it names none.
QString sender_name(QByteArrayView message);

// The acknowledgement of `message`: code AA (stored), AE (an error here) or
// AR (refused), with the reason, in the message's own encoding characters.
QByteArray acknowledgement(QByteArrayView message, const char* code, const QString& reason = {});

// An order pushed to an analyzer that takes them (OML^O21, version 2.5.1):
// the patient (PID), then per test an ORC (new order, the accession as the
// placer's number) and an OBR (the accession as OBR-2, the analyzer's code as
// OBR-4, the priority S or R as OBR-5). `control_id` is MSH-10, which the
// analyzer's acknowledgement names again.
QByteArray order_message(const OrderForAnalyzer& order, const QByteArray& control_id,
                         const QString& receiver);

// An acknowledgement an analyzer sent back (MSH-9 ACK): its code (MSA-1:
// AA, AE, AR, or CA, CE, CR), the control id it answers (MSA-2) and its text
// (MSA-3). Nothing for any other message.
struct Acknowledgement {
    QByteArray code;
    QByteArray control_id;
    QString text;
    bool accepted() const { return code == "AA" || code == "CA"; }
};
std::optional<Acknowledgement> read_acknowledgement(QByteArrayView message);

} // namespace hl7
