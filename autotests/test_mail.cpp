// Reports by e-mail, against a real SMTP server (aiosmtpd, started and
// stopped here): plain, STARTTLS and TLS from the start with a throwaway
// certificate, a refused login and a server that is not there. What arrives
// is read back: the recipient, the subject and the attached PDF's text.
#include "test_support.h"

#include "connection.h"
#include "core_tables.h"
#include "investigations.h"
#include "lab_reports.h"
#include "mail.h"
#include "records.h"
#include "report_engine.h"
#include "report_mail.h"
#include "settings.h"

#include <QAction>
#include <QInputDialog>
#include <QPrintPreviewDialog>
#include <QTimer>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

// A real SMTP server on a free port of this machine, for as long as it lives.
class SmtpServer {
public:
    SmtpServer(const QString& mode, const QString& folder, const QString& cert_dir) {
        QStringList args{SMTP_SERVER, "--mode", mode,         "--out",       folder,
                         "--login",   "lab",    "--password", "Sea-Shell-42"};
        if (mode != "plain")
            args << "--cert" << cert_dir + "/cert.pem"
                 << "--key" << cert_dir + "/key.pem";
        process_.start("/usr/bin/python3", args);
        if (!process_.waitForStarted(5000)) return;
        while (!process_.canReadLine() && process_.waitForReadyRead(15000)) {
        }
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith("PORT ")) port_ = line.mid(5).toInt();
    }
    ~SmtpServer() {
        process_.closeWriteChannel(); // it stops when its input closes
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(2000);
    }
    int port() const { return port_; }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    int port_ = 0;
};

QString read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestMail : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    QTemporaryDir certs_, inbox_;

    void write_ini(const QString& mail) {
        QFile ini(folder_->path() + "/tavora-lab.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(mail.toUtf8());
    }
    void write_password(const QString& password, QFile::Permissions mode) {
        QFile f(folder_->path() + "/mail-password");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(password.toUtf8() + "\n");
        f.close();
        QVERIFY(f.setPermissions(mode));
    }
    QString section(const QString& server, const QString& extra = {}) {
        return QString("[mail]\nserver=%1\nfrom=lab@tavora.example\nfrom-name=Tavora Pathology Laboratory\n"
                       "login=lab\npassword-file=%2/mail-password\nca-file=%3/cert.pem\n%4")
            .arg(server, folder_->path(), certs_.path(), extra);
    }
    Run mail_report(const QString& to = "dr.menon@clinic.example") {
        return admin({"mail", "--lab", "12", "--to", to, "--db", folder_->database_path()});
    }
    int mails_journalled() {
        return number_of("SELECT count(*) FROM change_log WHERE action = 'e-mail' AND row_key = 12");
    }

private slots:
    void initTestCase() {
        // A throwaway certificate for 127.0.0.1, which the [mail] ca-file trusts.
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                  certs_.filePath("key.pem"), "-out", certs_.filePath("cert.pem"), "-days",
                                  "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        for (const char* file : {"Serology.rpt", "letterhead.html", "letterhead_logo.png"})
            QFile::copy(QString(REPORT_FILES_DIR) + "/" + file, folder_->path() + "/" + file);
        QVERIFY(add_patient(kStaff, minimal_patient(7, "Asha D'Souza", "34", "F")).ok());
        QVERIFY(add_row("test_main", {{"lab_id", 12},
                                      {"patient_id", 7},
                                      {"ref_by", "Dr. R. Menon"},
                                      {"t_date", "2026-12-09"},
                                      {"test", "Serology"},
                                      {"remarks", ""},
                                      {"temp_patient", "N"}})
                    .ok());
        QVERIFY(add_row("Serology", {{"lab_id", 12}, {"item", "ASLO (N : Negative)"}, {"result", "Negative"}})
                    .ok());
        write_password("Sea-Shell-42", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        for (const QString& f : QDir(inbox_.path()).entryList(QDir::Files))
            QFile::remove(inbox_.filePath(f));
    }
    void cleanup() { folder_.reset(); }

    void a_report_reaches_the_doctor_data();
    void a_report_reaches_the_doctor();
    void what_is_refused_is_said_and_never_journalled();
    void addresses_and_templates();
    void the_preview_sends_the_report_it_shows();
};

void TestMail::a_report_reaches_the_doctor_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("extra");
    QTest::newRow("a relay on this machine, no TLS") << "plain"
                                                     << "smtp"
                                                     << "starttls=off\n";
    QTest::newRow("STARTTLS and a login") << "starttls"
                                          << "smtp"
                                          << "";
    QTest::newRow("TLS from the start and a login") << "smtps"
                                                    << "smtps"
                                                    << "";
}

void TestMail::a_report_reaches_the_doctor() {
    QFETCH(QString, mode);
    QFETCH(QString, scheme);
    QFETCH(QString, extra);
    SmtpServer server(mode, inbox_.path(), certs_.path());
    QVERIFY2(server.port() > 0, qPrintable(server.errors()));
    QString ini = section(QString("%1://127.0.0.1:%2").arg(scheme).arg(server.port()), extra);
    if (mode == "plain") ini.replace("login=lab\n", ""); // a local relay asks for none
    write_ini(ini);
    const Run sent = mail_report();
    QVERIFY2(sent.exit_code == 0, qPrintable(sent.err + server.errors()));
    QCOMPARE(sent.out.trimmed(), QString("Sent to dr.menon@clinic.example"));
    const QString message = read_file(inbox_.filePath("1.eml"));
    QVERIFY2(message.startsWith("X-Envelope-To: dr.menon@clinic.example\r\n"), qPrintable(message.left(300)));
    QVERIFY(message.contains("Subject: Report 12: Serology of Asha D'Souza\r\n"));
    QVERIFY(message.contains("From: Tavora Pathology Laboratory <lab@tavora.example>"));
    const QString pdf_text = pdf_to_text(inbox_.filePath("1-report-12.pdf"));
    QVERIFY2(pdf_text.contains("Asha D'Souza") && pdf_text.contains("Negative"), qPrintable(pdf_text));
    QCOMPARE(mails_journalled(), 1);
    QVERIFY(!read_file(folder_->path() + "/tavora lab.mdb").contains("Sea-Shell-42")); // never the password
}

void TestMail::what_is_refused_is_said_and_never_journalled() {
    SmtpServer server("starttls", inbox_.path(), certs_.path());
    QVERIFY(server.port() > 0);
    const QString url = QString("smtp://127.0.0.1:%1").arg(server.port());
    const int nobody = 1; // tcpmux: nothing listens there
    const struct {
        const char* what;
        QString ini;
        const char* password;
        const char* said;
    } cases[] = {
        {"a wrong password", section(url), "not-the-one", "the server refused the login"},
        {"nobody at the address", section(QString("smtp://127.0.0.1:%1").arg(nobody)), nullptr,
         "The e-mail was not sent"},
        {"no [mail] section", "[labels]\nwidth-mm=50\n", nullptr, "E-mail is not set up."},
        {"a certificate nobody vouches for", section(url).replace(QRegularExpression("ca-file=.*\n"), ""),
         nullptr, "The e-mail was not sent"},
        {"an address that is none", section(url), nullptr, "is not an e-mail address"},
    };
    for (const auto& c : cases) {
        write_ini(c.ini);
        write_password(c.password ? c.password : "Sea-Shell-42",
                       QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const Run refused =
            mail_report(QString(c.what) == "an address that is none" ? "dr.menon" : "dr@clinic.example");
        QVERIFY2(refused.exit_code != 0 && refused.err.contains(c.said),
                 qPrintable(QString(c.what) + ": " + refused.err));
    }
    // A password file everyone may read is refused before anything is sent.
    write_ini(section(url));
    write_password("Sea-Shell-42",
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    QVERIFY(mail_report().err.contains("may be read by everyone"));
    // A laboratory that requires verification keeps a provisional report on paper.
    write_password("Sea-Shell-42", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QVERIFY(set_setting(database().value, kRequireVerification, "on").ok());
    QVERIFY(
        mail_report().err.contains("Lab ID 12 is not verified yet: a provisional report is not e-mailed."));
    QCOMPARE(mails_journalled(), 0);
    QVERIFY(QDir(inbox_.path()).entryList(QDir::Files).isEmpty());
}

void TestMail::addresses_and_templates() {
    const struct {
        const char* address;
        bool taken;
    } addresses[] = {
        {"dr.menon@clinic.example", true},   {"a+b@x.org", true},   {"", false},
        {"dr menon@x.org", false},           {"<dr@x.org>", false}, {"dr@x", false},
        {"dr@x.org\r\nBcc: y@z.org", false}, {"@x.org", false},
    };
    for (const auto& a : addresses)
        QVERIFY2(address_problem(a.address).isEmpty() == a.taken, a.address);
    QVERIFY(!address_problem(QString(250, 'a') + "@x.org").isEmpty());
    // A name never adds a header line to the subject.
    QCOMPARE(
        filled_template("Report {lab_id}: {test} of {patient}", "Asha\r\nBcc: x@y.org", "12", "Serology"),
        QString("Report 12: Serology of Asha  Bcc: x@y.org"));
    QCOMPARE(report_recipients(12), QStringList{}); // no stored e-mail
    QVERIFY(execute("UPDATE registration SET emailid = 'asha@home.example' WHERE patient_id = 7").ok());
    QCOMPARE(report_recipients(12), QStringList{"asha@home.example"});
    // The referring doctor's, once the list keeps one (the admin tool; a bad
    // address and a name not on the list are refused, nothing stored).
    QVERIFY(add_doctor_if_new("Dr. R. Menon").ok());
    const QString db = folder_->database_path();
    QCOMPARE(admin({"doctor", "--name", "Dr. R. Menon", "--email", "dr menon@x.org", "--db", db}).exit_code,
             1);
    QVERIFY(admin({"doctor", "--name", "Dr. Nobody", "--email", "n@x.org", "--db", db})
                .err.contains("No doctor on the list is named Dr. Nobody."));
    const Run kept =
        admin({"doctor", "--name", "Dr. R. Menon", "--email", "menon@clinic.example", "--db", db});
    QVERIFY2(kept.exit_code == 0, qPrintable(kept.err));
    QVERIFY(admin({"doctor", "--db", db}).out.contains("Dr. R. Menon\tmenon@clinic.example\n"));
    QCOMPARE(report_recipients(12), (QStringList{"asha@home.example", "menon@clinic.example"}));
    QCOMPARE(number_of("select count(*) from change_log where table_name = 'doctors' and action = 'modify'"),
             1);
}

void TestMail::the_preview_sends_the_report_it_shows() {
    MessageRecorder messages;
    QVERIFY(execute("UPDATE registration SET emailid = 'asha@home.example' WHERE patient_id = 7").ok());
    PreviewEngine engine;
    QVERIFY(run_report(engine, test_report_request(catalogue::kSerology, 12)).isEmpty());
    QPrintPreviewDialog* preview = shown_preview();
    QVERIFY(preview);
    auto* mail = preview->findChild<QAction*>("e_mail");
    QVERIFY(mail);
    QCOMPARE(mail->shortcut(), QKeySequence(Qt::ALT | Qt::Key_E));
    // Without [mail] it says what to set up, and sends nothing.
    write_ini("");
    mail->trigger();
    QCOMPARE(messages.texts(), QStringList{mail_setup_help()});
    messages.clear();
    SmtpServer server("plain", inbox_.path(), certs_.path());
    QVERIFY(server.port() > 0);
    write_ini(section(QString("smtp://127.0.0.1:%1").arg(server.port()), "starttls=off\n")
                  .replace("login=lab\n", ""));
    // The patient's stored address is offered first; Enter takes it.
    QStringList offered;
    QTimer::singleShot(0, [&] {
        if (auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            offered = ask->comboBoxItems();
            ask->accept();
        }
    });
    mail->trigger();
    QCOMPARE(offered, QStringList{"asha@home.example"});
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Sent to asha@home.example"}, 20000);
    QVERIFY(read_file(inbox_.filePath("1.eml")).startsWith("X-Envelope-To: asha@home.example\r\n"));
    QVERIFY(pdf_to_text(inbox_.filePath("1-report-12.pdf")).contains("Asha D'Souza"));
    QCOMPARE(mails_journalled(), 1);
    preview->close();
}

TAVORA_TEST_MAIN(TestMail)
#include "test_mail.moc"
