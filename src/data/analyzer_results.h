#pragma once

#include "db_error.h"
#include "records.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What the analyzers send (tavora-lab-analyzer stores it) and what the test
// screens take from it: every message as it came, and its results waiting in
// pending_results until a Save or Modify uses them.

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

// Stores the message and its results in one transaction (a refused one with
// its problem and no results; quality-control results in analyzer_qc); the
// message's id. A message whose key names
// one stored before (sent again: the analyzer had no acknowledgement of it)
// is not stored again: the id of the first, with `again` set.
struct StoredMessage {
    qint64 id = 0;
    bool again = false;
};
DbResult<StoredMessage> store_analyzer_message(const ReceivedMessage& message);

// A result not taken yet.
struct PendingResult {
    qint64 id = 0;
    QString analyzer, received_at; // received_at: ISO date and time
    AnalyzerResult result;
};

// The results waiting for this lab id, oldest first.
DbResult<QList<PendingResult>> pending_results_for(const QString& lab_id);
// Every result waiting, by lab id and then oldest first.
DbResult<QList<PendingResult>> all_pending_results();
// The latest `most` quality-control results, newest first (their sample id
// in result.lab_id).
DbResult<QList<PendingResult>> latest_qc_results(int most = 1000);

// Whether any analyzer has ever sent this database a message.
DbResult<bool> analyzers_in_use();

// Marks these results taken by the login that saves (journal_user_name), now.
// Called inside the Save or Modify that used them: taken with the report, or
// not at all. A result another workstation took already stays as it was.
DbError take_pending_results(const QList<qint64>& ids);

// The test of each of these lab ids' reports (test_main.test), by lab id as
// given; lab ids without a report are not in it.
DbResult<QHash<QString, QString>> tests_of_reports(const QStringList& lab_ids);

// The listener's spool beside the program (tavora-lab-analyzer keeps there
// the messages it has answered and the database does not have yet), and how
// many messages wait in a spool folder now.
QString default_spool_folder();
int messages_in_spool(const QString& folder = default_spool_folder());
inline constexpr char kSpooledSuffix[] = ".msg";
