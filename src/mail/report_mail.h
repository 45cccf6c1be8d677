#pragma once

#include "db_error.h"
#include "mail.h"

#include <QString>
#include <QStringList>

struct PreparedReport;

// A saved report as an e-mail: the subject and body from the [mail]
// templates, its PDF attached (the report as previewed, when given, else
// printed afresh on the paper of the moment). Refused with the reason when
// the laboratory requires verification and the report is not verified (a
// provisional report stays on paper), when the address is not one, or when
// it cannot be printed.
struct ReportMail {
    Mail mail;
    QString problem;
};
ReportMail report_mail(qint64 lab_id, const QString& to, const MailSettings& settings,
                       const PreparedReport* shown = nullptr);

// The addresses a report may go to: the patient's stored e-mail and its
// referring doctor's, those that are addresses, the patient's first.
QStringList report_recipients(qint64 lab_id);

// After the server took it: who sent which report to whom, and when, in the
// journal (never the password).
DbError journal_mail(qint64 lab_id, const QString& to, const QString& subject);
