#include "test_support.h"

#include "core_tables.h"
#include "records.h"
#include "tavora_module.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

struct Run {
    int exit_code = -1;
    QString out, err;
};

Run admin(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ADMIN_TOOL), args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestAdmin : public QObject {
    Q_OBJECT

private slots:
    void init_creates_a_database_and_never_overwrites();
    void render_writes_a_pdf();
    void render_refuses_bad_requests_data();
    void render_refuses_bad_requests();
};

void TestAdmin::init_creates_a_database_and_never_overwrites() {
    QTemporaryDir dir;
    const QString path = dir.filePath("tavora lab.mdb");
    Run first = admin({"init", path});
    QCOMPARE(first.exit_code, 0);
    QVERIFY(QFile::exists(path));
    set_program_folder(dir.path());
    QCOMPARE(next_patient_id().value, 1);
    QVERIFY(add_patient(minimal_patient(1, "Kept", "", "")).ok());
    close_connection();
    Run again = admin({"init", path});
    QVERIFY(again.exit_code != 0);
    QVERIFY(again.err.contains("exists already"));
    QCOMPARE(find_patient(1).value->patient_name, QString("Kept"));
    close_connection();
    set_program_folder(QString());
    QVERIFY(admin({"init"}).exit_code != 0);
    QVERIFY(admin({"bogus", path}).err.contains("usage"));
}

void TestAdmin::render_writes_a_pdf() {
    ProgramFolder folder;
    QVERIFY(add_patient(minimal_patient(1, "Asha", "34", "F")).ok());
    QVERIFY(add_row("test_main",
                    {{"lab_id", 4}, {"patient_id", 1}, {"test", "Widal test"}, {"t_date", "2026-12-09"}})
                .ok());
    QVERIFY(add_row("widal_test", {{"lab_id", 4}, {"item", "S typh1 \"O\""}, {"result", "1:320"}}).ok());
    const QString pdf = folder.path() + "/out.pdf";
    Run r = admin({"render", QStringLiteral(REPORT_FILES_DIR) + "/widal_test.rpt", "--db",
                   folder.database_path(), "--formula", "{test_main.lab_ID} = 4", "--pdf", pdf});
    QCOMPARE(r.exit_code, 0);
    QVERIFY(QFile(pdf).size() > 1000);
}

void TestAdmin::render_refuses_bad_requests_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString rpt = QStringLiteral(REPORT_FILES_DIR) + "/widal_test.rpt";
    QTest::newRow("no pdf") << QStringList{"render", rpt, "--db", "DB"} << "usage";
    QTest::newRow("unknown option") << QStringList{"render", rpt, "--db", "DB", "--pdf", "x.pdf", "--fast"}
                                    << "usage";
    QTest::newRow("missing database")
        << QStringList{"render", rpt, "--db", "/nowhere/x.mdb", "--pdf", "x.pdf"} << "does not exist";
    QTest::newRow("missing report file")
        << QStringList{"render", "/nowhere/x.rpt", "--db", "DB", "--pdf", "x.pdf"} << "cannot be found";
    QTest::newRow("bad formula") << QStringList{"render", rpt,         "--db",
                                                "DB",     "--formula", "{test_main.lab_ID} = 1 or 1=1",
                                                "--pdf",  "x.pdf"}
                                 << "is not of the form";
}

void TestAdmin::render_refuses_bad_requests() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    ProgramFolder folder;
    for (QString& a : args) {
        if (a == "DB") a = folder.database_path();
        if (a == "x.pdf") a = folder.path() + "/x.pdf";
    }
    Run r = admin(args);
    QVERIFY(r.exit_code != 0);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(!QFile::exists(folder.path() + "/x.pdf"));
}

TAVORA_TEST_MAIN(TestAdmin)
#include "test_admin.moc"
