#include "mail.h"

#include "connection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QUuid>

#include <curl/curl.h>

#include <memory>

namespace {

constexpr int kMostAddress = 254;   // RFC 5321's longest path
constexpr int kConnectSeconds = 15; // a server that does not answer
constexpr int kSendSeconds = 120;   // the whole message

QString default_subject() {
    return QStringLiteral("Report {lab_id}: {test} of {patient}");
}

QString default_body() {
    return QStringLiteral("Please find attached the {test} report (lab ID {lab_id}) of {patient}.");
}

// The password, from its file: readable by the owner and the group only.
QString read_password(const QString& path, QString* problem) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *problem = QStringLiteral("the mail password file %1 does not exist").arg(path);
        return {};
    }
    if (info.permissions() & (QFile::ReadOther | QFile::WriteOther)) {
        *problem =
            QStringLiteral("the mail password file %1 may be read by everyone: make it readable by the "
                           "laboratory's group only (chmod 640)")
                .arg(path);
        return {};
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("the mail password file %1 cannot be read: %2").arg(path, f.errorString());
        return {};
    }
    return QString::fromUtf8(f.readLine(1024)).trimmed();
}

// An encoded word for a header that may hold any character.
QByteArray header_text(const QString& text) {
    bool plain = true;
    for (QChar c : text)
        plain = plain && c.unicode() >= 32 && c.unicode() < 127;
    if (plain) return text.toLatin1();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray base64_lines(const QByteArray& data) {
    const QByteArray b = data.toBase64();
    QByteArray out;
    for (qsizetype at = 0; at < b.size(); at += 76)
        out += b.mid(at, 76) + "\r\n";
    return out;
}

struct Upload {
    QByteArray data;
    qsizetype at = 0;
};

size_t read_upload(char* buffer, size_t size, size_t count, void* user) {
    auto* u = static_cast<Upload*>(user);
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), u->data.size() - u->at);
    if (n <= 0) return 0;
    memcpy(buffer, u->data.constData() + u->at, size_t(n));
    u->at += n;
    return size_t(n);
}

bool curl_ready() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

} // namespace

MailSettings mail_settings(const QString& ini_path) {
    const QString path =
        ini_path.isEmpty() ? QDir(program_folder()).filePath(QStringLiteral("tavora-lab.ini")) : ini_path;
    QSettings ini(path, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("mail"));
    MailSettings s;
    auto text = [&](const char* key) { return ini.value(QString::fromLatin1(key)).toString().trimmed(); };
    s.server = text("server");
    s.configured = !s.server.isEmpty();
    if (!s.configured) return s;
    s.from = text("from");
    s.from_name = text("from-name");
    s.login = text("login");
    s.password_file = text("password-file");
    s.ca_file = text("ca-file");
    s.subject = text("subject").isEmpty() ? default_subject() : text("subject");
    s.body = text("body").isEmpty() ? default_body() : text("body");
    const QString starttls = text("starttls").toLower();
    s.starttls = starttls != QLatin1String("off");
    static const QRegularExpression url(QStringLiteral("^(smtps?)://[A-Za-z0-9.-]+(:\\d{1,5})?/?$"));
    const auto m = url.match(s.server);
    if (!m.hasMatch())
        s.problem =
            QStringLiteral("[mail] server=%1 is not an SMTP address (smtps://host:465 or smtp://host:587)")
                .arg(s.server);
    else if (!starttls.isEmpty() && starttls != QLatin1String("required") && starttls != QLatin1String("off"))
        s.problem = QStringLiteral("[mail] starttls is required or off, not %1").arg(starttls);
    else if (const QString p = address_problem(s.from); !p.isEmpty())
        s.problem = QStringLiteral("[mail] from: %1").arg(p);
    else if (!s.login.isEmpty() && s.password_file.isEmpty())
        s.problem = QStringLiteral("[mail] names a login but no password-file");
    if (m.hasMatch() && m.captured(1) == QLatin1String("smtps")) s.starttls = false; // TLS from the start
    return s;
}

QString mail_setup_help() {
    return QStringLiteral(
        "E-mail is not set up. Add a [mail] section to tavora-lab.ini beside the program: server= "
        "(smtps://host:465 or smtp://host:587), from=, and, when the server asks for a login, login= and "
        "password-file= (a file readable by the laboratory's group only).");
}

QString address_problem(const QString& address) {
    if (address.isEmpty()) return QStringLiteral("no e-mail address is given");
    if (address.size() > kMostAddress)
        return QStringLiteral("an e-mail address has at most %1 characters").arg(kMostAddress);
    static const QRegularExpression form(
        QStringLiteral("^[^@\\s<>\"(),;:\\\\\\[\\]]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}$"));
    for (QChar c : address)
        if (c.unicode() < 32 || c.unicode() == 127)
            return QStringLiteral("an e-mail address holds no control characters");
    if (!form.match(address).hasMatch())
        return QStringLiteral("\"%1\" is not an e-mail address (name@example.org)").arg(address);
    return {};
}

QString filled_template(QString text, const QString& patient, const QString& lab_id, const QString& test,
                        bool one_line) {
    text.replace(QLatin1String("{patient}"), patient);
    text.replace(QLatin1String("{lab_id}"), lab_id);
    text.replace(QLatin1String("{test}"), test);
    return one_line ? text.replace(u'\r', u' ').replace(u'\n', u' ') : text;
}

QByteArray mime_message(const MailSettings& settings, const Mail& mail) {
    const QByteArray boundary = "tavora-" + QUuid::createUuid().toString(QUuid::Id128).toLatin1();
    const QByteArray from = settings.from_name.isEmpty()
                                ? "<" + settings.from.toLatin1() + ">"
                                : header_text(settings.from_name) + " <" + settings.from.toLatin1() + ">";
    const QByteArray domain = settings.from.section(u'@', 1).toLatin1();
    QByteArray m;
    m += "Date: " +
         QLocale::c()
             .toString(QDateTime::currentDateTime(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss t"))
             .toLatin1() +
         "\r\n";
    m += "From: " + from + "\r\n";
    m += "To: <" + mail.to.toLatin1() + ">\r\n";
    m += "Subject: " + header_text(mail.subject) + "\r\n";
    m += "Message-ID: <" + QUuid::createUuid().toString(QUuid::Id128).toLatin1() + "@" + domain + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "--" + boundary + "\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    m += base64_lines(mail.body.toUtf8());
    m += "--" + boundary + "\r\n";
    m += "Content-Type: application/pdf; name=\"" + mail.attachment_name.toLatin1() + "\"\r\n";
    m += "Content-Disposition: attachment; filename=\"" + mail.attachment_name.toLatin1() + "\"\r\n";
    m += "Content-Transfer-Encoding: base64\r\n\r\n";
    m += base64_lines(mail.attachment);
    m += "--" + boundary + "--\r\n";
    return m;
}

QString send_mail(const MailSettings& settings, const Mail& mail) {
    if (!settings.configured) return mail_setup_help();
    if (!settings.problem.isEmpty()) return settings.problem;
    if (const QString p = address_problem(mail.to); !p.isEmpty()) return p;
    if (!curl_ready()) return QStringLiteral("the mail library could not start");
    QString problem;
    const QString password =
        settings.login.isEmpty() ? QString() : read_password(settings.password_file, &problem);
    if (!problem.isEmpty()) return problem;

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return QStringLiteral("the mail library could not start");
    char error[CURL_ERROR_SIZE] = {};
    const QByteArray url = settings.server.toLatin1(), from = "<" + settings.from.toLatin1() + ">",
                     to = "<" + mail.to.toLatin1() + ">", login = settings.login.toUtf8(),
                     secret = password.toUtf8(), ca = QFile::encodeName(settings.ca_file);
    Upload upload{mime_message(settings, mail)};
    curl_slist* recipients = curl_slist_append(nullptr, to.constData());
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    if (settings.starttls) curl_easy_setopt(curl.get(), CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!ca.isEmpty()) curl_easy_setopt(curl.get(), CURLOPT_CAINFO, ca.constData());
    if (!login.isEmpty()) {
        curl_easy_setopt(curl.get(), CURLOPT_USERNAME, login.constData());
        curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, secret.constData());
    }
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, read_upload);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, curl_off_t(upload.data.size()));
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, long(kConnectSeconds));
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, long(kSendSeconds));
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    const CURLcode done = curl_easy_perform(curl.get());
    curl_slist_free_all(recipients);
    if (done == CURLE_OK) return {};
    long response = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &response);
    QString why = QString::fromLocal8Bit(*error ? error : curl_easy_strerror(done)).trimmed();
    if (done == CURLE_LOGIN_DENIED) why = QStringLiteral("the server refused the login (%1)").arg(why);
    if (response >= 400) why += QStringLiteral(" (the server answered %1)").arg(response);
    return QStringLiteral("The e-mail was not sent: %1.").arg(why);
}
