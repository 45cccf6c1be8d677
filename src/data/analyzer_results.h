#pragma once

#include "analyzer_message.h"
#include "db_error.h"
#include "records.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What the analyzers sent (tavora-lab-analyzer stores it; the messages
// themselves: analyzer_message.h) and what the test screens take from it:
// every message as it came, and its results waiting in pending_results until
// a Save or Modify uses them.

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
