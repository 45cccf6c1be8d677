#pragma once

#include <QByteArray>
#include <QString>

// A report by e-mail: the [mail] section of tavora-lab.ini names the
// laboratory's SMTP server, and a message with the report's PDF attached is
// handed to it (libcurl). Nothing is sent while [mail] is absent.
//
//   [mail]
//   server=smtps://mail.example.org:465     (or smtp://host:587)
//   starttls=required                       (smtp:// only; off only for a relay on this machine)
//   from=lab@example.org
//   from-name=Tavora Pathology Laboratory
//   login=lab@example.org
//   password-file=/etc/tavora-lab/mail-password   (readable by the laboratory's group only)
//   ca-file=/etc/tavora-lab/relay-ca.pem    (a relay's own certificate authority, when it has one)
//   subject=Report {lab_id}: {test} of {patient}
//   body=Please find attached the {test} report (lab ID {lab_id}) of {patient}.

struct MailSettings {
    bool configured = false; // the ini has a [mail] server
    QString problem;         // why what it says cannot be used; empty: usable
    QString server, from, from_name, login, password_file, ca_file, subject, body;
    bool starttls = true;
};

// The [mail] section of the ini file at `ini_path` (the program folder's by default).
MailSettings mail_settings(const QString& ini_path = {});

// What to set up before the first e-mail (said when [mail] is absent).
QString mail_setup_help();

// Why `address` is not one e-mail address a message can go to (bounded,
// no blanks, control characters or angle brackets, one @ with text on both
// sides); empty when it is.
QString address_problem(const QString& address);

// A subject or body template with {patient}, {lab_id} and {test} filled in;
// `one_line` (a subject): line breaks become blanks, so a name never adds a header.
QString filled_template(QString text, const QString& patient, const QString& lab_id, const QString& test,
                        bool one_line = true);

struct Mail {
    QString to;
    QString subject;
    QString body;
    QString attachment_name; // "report-12.pdf"
    QByteArray attachment;   // the PDF
};

// The message as it is sent: MIME, the text and the PDF in base64.
QByteArray mime_message(const MailSettings& settings, const Mail& mail);

// Sends it (blocking: run it off the window's thread); empty when the server
// took it, else the reason, the server's own words where it gave some. The
// password is read from its file here and never kept.
QString send_mail(const MailSettings& settings, const Mail& mail);
