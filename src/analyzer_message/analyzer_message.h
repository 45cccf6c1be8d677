#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A message from an analyzer as its protocol reads it (astm.h, hl7.h) and
// the database keeps it (analyzer_results.h): below both, with Qt Core only.

// One result as an analyzer sent it.
struct AnalyzerResult {
    QString lab_id; // the specimen id: the report's lab id
    QString code;   // the analyzer's own code of the test
    QString value;
    QString units = {};
    QString flag = {}; // the analyzer's abnormal flag, as sent
    // The whole test id as sent (its components joined by "^", the trailing
    // empty ones dropped): a codes file line may name it instead of `code`.
    QString test_id = {};
    // The result's status or type as sent (ASTM R-9, HL7 OBX-11: F final,
    // P preliminary, ...): a codes file line may ask for one.
    QString status = {};
    // A quality-control run's result (kept in analyzer_qc, never offered to a report).
    bool qc = false;
};

// The joined form of a test id's components, as AnalyzerResult::test_id keeps it.
QString joined_test_id(const QStringList& components);

// A message as the listener read it: its results, or why it was refused.
struct ReceivedMessage {
    QString analyzer; // its section's name in tavora-lab.ini
    QString protocol; // "astm", "hl7"
    QByteArray raw;   // as it came
    QList<AnalyzerResult> results;
    QString problem; // empty: the message was understood
    // What names the message wherever it is sent again (HL7: the sending
    // application and facility with the control id; ASTM: the analyzer with
    // a hash of the records), for a message understood; empty: none. The
    // listener's spool names any other message "spool:" and a UUID.
    QString key = {};
};

// A message is at most this long unless its analyzer's section says
// otherwise (max-message); of one longer, the first kKeptOfTooLong bytes are
// kept with the reason.
inline constexpr qsizetype kMostMessageBytes = 1 << 20;
inline constexpr qsizetype kKeptOfTooLong = 64 << 10;
// Why a message past the bound `most` was refused.
inline QString too_long_reason(qsizetype most) {
    return QStringLiteral("longer than %1 bytes: cut off").arg(most);
}

// The lab id as analyzers write it, as the laboratory's lab ids read: blanks
// around it dropped, and a whole number without leading zeros.
QString canonical_lab_id(const QString& specimen_id);

// What the host tells an analyzer of one sample it has an order for (an
// ASTM query's answer, or an HL7 order pushed to it): the sample's id (the
// accession on its label), the patient, whether urgent, and the analyzer's
// code of each test wanted.
struct OrderForAnalyzer {
    QString sample_id;
    qint64 patient_id = 0;
    QString patient_name;
    bool urgent = false;
    QStringList codes;
};
