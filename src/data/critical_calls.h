#pragma once

#include "accounts.h"
#include "db_error.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The critical results of a report and the call that told the referring
// doctor about them (the critical_calls table). A report saved or modified
// with critical results waits for its call; every call is journalled.

struct CriticalCall {
    QString findings; // "Potassium 6.8 (critical above 6.2); ..."
    QString raised_by, raised_at;
    QString informed_by, informed_whom, called_at; // empty until the call is recorded
    QString recorded_by;
    bool read_back = false; // the recipient read the values back

    bool called() const { return !called_at.isEmpty(); }
    QStringList finding_list() const { return findings.split(QStringLiteral("; "), Qt::SkipEmptyParts); }
};

DbResult<std::optional<CriticalCall>> critical_call(const QVariant& lab_id);

// Inside the transaction that stores a report's results: the report's critical
// findings now. New findings wait for a call (a call recorded for other
// findings no longer counts); the same findings keep their call; none remove
// the record. Journalled when it changes.
DbError note_critical_findings(const QVariant& lab_id, const QStringList& findings);

// Records who informed whom and when (ISO date and time), journalled, under
// the login of `who` (who needs the RecordCall right); only while the report's findings are still
// `findings` (a Changed error otherwise, NotFound when nothing is waiting).
struct CallRecord {
    QString informed_by, informed_whom, called_at;
    bool read_back = false;
};
DbError record_critical_call(const Actor& who, const QVariant& lab_id, const QString& findings,
                             const CallRecord& call);

// The reports waiting to be verified that have critical results: those whose
// doctor was not called yet first, then oldest first.
DbResult<QList<qint64>> critical_reports_to_verify();
