#include "report_mail.h"

#include "connection.h"
#include "core_tables.h"
#include "investigations.h"
#include "journal.h"
#include "lab_reports.h"
#include "prepared_report.h"
#include "records.h"
#include "report_engine.h"
#include "report_layout.h"
#include "settings.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

ReportMail report_mail(qint64 lab_id, const QString& to, const MailSettings& settings,
                       const PreparedReport* shown) {
    ReportMail out;
    if (!settings.configured) return {{}, mail_setup_help()};
    if (!settings.problem.isEmpty()) return {{}, settings.problem};
    if (const QString p = address_problem(to); !p.isEmpty()) return {{}, p};
    auto header = find_report(lab_id);
    if (!header.ok()) return {{}, header.error.description};
    if (!header.value) return {{}, QStringLiteral("Lab ID does not exist")};
    const Investigation* test = catalogue::by_test(header.value->test);
    if (!test)
        return {{}, QStringLiteral("\"%1\" is not one of the laboratory's tests").arg(header.value->test)};
    auto db = database();
    if (!db.ok()) return {{}, db.error.description};
    auto signoff = report_signoff(lab_id);
    if (!signoff.ok()) return {{}, signoff.error.description};
    if (setting(db.value, QString::fromLatin1(kRequireVerification)) == QLatin1String("on") &&
        !signoff.value.verified())
        return {{},
                QStringLiteral("Lab ID %1 is not verified yet: a provisional report is not e-mailed.")
                    .arg(lab_id)};
    auto patient = find_patient(header.value->patient_id);
    const QString name = patient.ok() && patient.value ? patient.value->patient_name : QString();

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QString failure;
    if (shown) {
        failure = write_pdf(*shown, pdf);
    } else {
        const Prepared prepared = prepare_report(test_report_request(*test, lab_id), database_file_path());
        failure = prepared.report ? write_pdf(*prepared.report, pdf) : prepared.error;
    }
    if (!failure.isEmpty()) return {{}, failure};
    QFile f(pdf);
    if (!f.open(QIODevice::ReadOnly)) return {{}, QStringLiteral("The report's PDF cannot be read.")};
    out.mail.to = to;
    const QString id = QString::number(lab_id), test_name = QString::fromUtf8(test->test);
    out.mail.subject = filled_template(settings.subject, name, id, test_name);
    out.mail.body = filled_template(settings.body, name, id, test_name, false);
    out.mail.attachment_name = QStringLiteral("report-%1.pdf").arg(lab_id);
    out.mail.attachment = f.readAll();
    return out;
}

QStringList report_recipients(qint64 lab_id) {
    auto header = find_report(lab_id);
    if (!header.ok() || !header.value) return {};
    QStringList out;
    auto add = [&](const QString& address) {
        if (address_problem(address.trimmed()).isEmpty() && !out.contains(address.trimmed()))
            out << address.trimmed();
    };
    if (auto patient = find_patient(header.value->patient_id); patient.ok() && patient.value)
        add(patient.value->emailid);
    if (auto doctor = doctor_email(header.value->ref_by); doctor.ok()) add(doctor.value);
    return out;
}

DbError journal_mail(qint64 lab_id, const QString& to, const QString& subject) {
    return in_transaction([&] {
        return journal_change(QStringLiteral("e-mail"), QStringLiteral("test_main"), lab_id,
                              {{QStringLiteral("to"), to}, {QStringLiteral("subject"), subject}});
    });
}
