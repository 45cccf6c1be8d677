#pragma once

#include "analyzer_results.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// HL7 version 2 as the analyzers send results: ORU^R01 messages in MLLP
// frames (0x0B message 0x1C 0x0D), each answered by an ACK once it is stored.

namespace hl7 {

inline constexpr char kStart = 0x0b, kEnd = 0x1c, kCr = 0x0d;

QByteArray frame(QByteArrayView message);

// Cuts the bytes of a connection into messages, split or joined anywhere;
// bytes before a frame's start are dropped.
class MllpReader {
public:
    QList<QByteArray> feed(QByteArrayView bytes);
    bool inside_message() const { return !buffer_.isEmpty(); }
    // What came of a message whose frame never ended (without its start byte).
    QByteArray unfinished() const { return buffer_.mid(1); }

private:
    QByteArray buffer_; // from a frame's start byte, while its end has not come
};

// The results of an ORU^R01 (the lab id from OBR-3, or OBR-2 where OBR-3 is
// empty; code, value, units and abnormal flag from OBX-3, -5, -6 and -8), or
// why it cannot be read.
struct Parsed {
    QList<AnalyzerResult> results;
    QString problem;
};
Parsed parse_message(QByteArrayView message);

// The acknowledgement of `message`: code AA (stored), AE (an error here) or
// AR (refused), with the reason, in the message's own encoding characters.
QByteArray acknowledgement(QByteArrayView message, const char* code, const QString& reason = {});

} // namespace hl7
