// Between workstations and against bad files: no lost update, no details of
// another patient after a failed look-up, exact ids, the journal of changes,
// and the files the program refuses to trust.
#include "test_support.h"

#include "connection.h"
#include "core_tables.h"
#include "database_copy.h"
#include "investigations.h"
#include "lab_reports.h"
#include "number_value.h"
#include "patient_search.h"
#include "prepared_report.h"
#include "registration_screen.h"
#include "schema_setup.h"
#include "screen_registry.h"
#include "start.h"
#include "utility_screen.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QtConcurrent/QtConcurrent>

#include <sqlite3.h>
#include <sys/resource.h>

namespace {

QByteArray bytes_of(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// The before-images: modifications and deletions (creations are journalled too).
int journal_rows() {
    return select_first("select count(*) from change_log where action <> 'create'").value->value(0).toInt();
}

// Runs SQL on a file through SQLite itself, outside the program's checks.
void raw(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) qWarning("%s", error);
    sqlite3_free(error);
    sqlite3_close(db);
}

} // namespace

class TestHardening : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder_;
    std::unique_ptr<MessageRecorder> messages_;

    QLineEdit* line(QWidget* screen, const char* name) { return screen->findChild<QLineEdit*>(name); }
    RegistrationScreen* registration() {
        auto* s = qobject_cast<RegistrationScreen*>(screens::open(kRegistrationScreen));
        show_active(s);
        return s;
    }
    void look_up(RegistrationScreen* s, const QString& number) {
        s->show_mode();
        QTest::keyClicks(line(s, "Text1"), number);
        QTest::keyClick(line(s, "Text1"), Qt::Key_Return);
        settle();
    }

private slots:
    void initTestCase() { install_screens(); }
    void init() {
        folder_ = std::make_unique<ProgramFolder>();
        messages_ = std::make_unique<MessageRecorder>();
    }
    void cleanup() {
        set_busy_timeout_for_tests(0);
        close_screens();
        messages_.reset();
        folder_.reset();
    }

    void two_workstations_modify_the_same_patient();
    void a_failed_look_up_leaves_no_other_patient();
    void ids_are_exact_data();
    void ids_are_exact();
    void exact_ids_on_the_screens_and_in_formulas();
    void report_modify_and_delete_are_journalled();
    void bad_files_are_named_and_never_written_data();
    void bad_files_are_named_and_never_written();
    void a_damaged_file_takes_no_more_work();
    void a_file_found_damaged_is_refused_by_every_workstation();
    void older_files_are_upgraded_in_one_step();
    void report_queries_can_only_read_data();
    void report_queries_can_only_read();
    void report_file_limits_data();
    void report_file_limits();
    void hostile_report_files_end_in_a_named_refusal_data();
    void hostile_report_files_end_in_a_named_refusal();
    void a_report_prints_right_after_a_crash();
    void init_creates_exclusively();
};

void TestHardening::two_workstations_modify_the_same_patient() {
    QVERIFY(add_patient(kStaff, minimal_patient(17, "Zara", "40", "F")).ok());
    RegistrationScreen* s = registration();
    look_up(s, "17");
    // Another workstation looked her up too, and stored first.
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("update registration set mobile = '98450' where patient_id = 17"));
    line(s, "Text3")->setText("41");
    s->modify();
    QCOMPARE(messages_->texts().value(0).left(60),
             QString("Another workstation changed this patient since it was looked up. Nothing").left(60));
    QCOMPARE(find_patient(17).value->age, QString("40"));       // nothing stored
    QCOMPARE(find_patient(17).value->mobile, QString("98450")); // nothing lost
    QCOMPARE(line(s, "Text6")->text(), QString("98450"));       // the stored details are shown
    QCOMPARE(journal_rows(), 0);
    // Now the screen holds what is stored: the change goes through, journalled.
    line(s, "Text3")->setText("41");
    messages_->clear();
    s->modify();
    QCOMPARE(messages_->texts(), QStringList{"Information has been modified"});
    QCOMPARE(find_patient(17).value->age, QString("41"));
    QCOMPARE(find_patient(17).value->mobile, QString("98450"));
    const auto entry = select_first("select table_name, row_key, action, json_extract(old_values, '$.age') "
                                    "from change_log where action <> 'create'")
                           .value;
    QCOMPARE(entry->text(0) + entry->text(1) + entry->text(2) + entry->text(3),
             QString("registration17modify40"));
}

void TestHardening::a_failed_look_up_leaves_no_other_patient() {
    QVERIFY(add_patient(kStaff, minimal_patient(17, "Zara", "40", "F")).ok());
    Patient p = minimal_patient(17, "Zara", "40", "F");
    RegistrationScreen* s = registration();
    look_up(s, "17");
    QCOMPARE(line(s, "text2")->text(), QString("Zara"));
    // The look-up of 5000 fails: the database is busy past its timeout
    // (shortened here, with the connection opened again under it).
    set_busy_timeout_for_tests(200);
    close_connection();
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("BEGIN EXCLUSIVE"));
    line(s, "Text1")->setFocus();
    line(s, "Text1")->setText("5000");
    QTest::keyClick(line(s, "Text1"), Qt::Key_Tab);
    QVERIFY(messages_->texts().value(0).startsWith("Looking up the patient failed."));
    QVERIFY(other.exec("ROLLBACK"));
    for (const char* box : {"text2", "Text3", "Text4", "Text5"})
        QCOMPARE(line(s, box)->text(), QString());
    messages_->clear();
    s->save();
    QCOMPARE(messages_->texts(), QStringList{"Important data not given"});
    QVERIFY(!find_patient(5000).value);
}

void TestHardening::ids_are_exact_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("id"); // invalid: refused
    QTest::newRow("2^53 + 1") << "9007199254740993" << QVariant(qint64(9007199254740993LL));
    QTest::newRow("64-bit limit") << "9223372036854775807" << QVariant(qint64(9223372036854775807LL));
    QTest::newRow("lowest") << "-9223372036854775808" << QVariant(qint64(-9223372036854775807LL - 1));
    QTest::newRow("one beyond") << "9223372036854775808" << QVariant();
    QTest::newRow("far beyond") << "123456789012345678901234567890" << QVariant();
    QTest::newRow("beyond with exponent") << "1e30" << QVariant();
    QTest::newRow("blanks and letters") << " 1 2abc" << QVariant(qint64(12));
    QTest::newRow("empty") << "" << QVariant(qint64(0));
    QTest::newRow("hexadecimal") << "&H10" << QVariant(qint64(16));
    QTest::newRow("exponent") << "1e3" << QVariant(qint64(1000));
    QTest::newRow("fraction") << "12.5" << QVariant(12.5);
}

void TestHardening::ids_are_exact() {
    QFETCH(QString, typed);
    QFETCH(QVariant, id);
    const auto value = id_value(typed);
    QCOMPARE(value.has_value(), id.isValid());
    if (!id.isValid()) return;
    QCOMPARE(value->typeId(), id.typeId());
    QCOMPARE(*value, id);
}

void TestHardening::exact_ids_on_the_screens_and_in_formulas() {
    QVERIFY(add_patient(kStaff, minimal_patient(9007199254740992LL, "Even", "", "")).ok());
    QVERIFY(add_patient(kStaff, minimal_patient(9007199254740993LL, "Odd", "", "")).ok());
    RegistrationScreen* s = registration();
    look_up(s, "9007199254740993");
    QCOMPARE(line(s, "text2")->text(), QString("Odd"));
    look_up(s, "99999999999999999999");
    QCOMPARE(messages_->texts(), QStringList{"The number 99999999999999999999 is too large to be an id."});
    QCOMPARE(line(s, "text2")->text(), QString());
    // The print's formula selects the exact report too.
    for (qint64 p : {1, 2})
        QVERIFY(add_patient(kStaff, minimal_patient(p, "Patient", "", "")).ok());
    QVERIFY(save_report(kStaff,
                        {std::nullopt, {9007199254740993LL, 1, "", "", "Serology", "", "N"}, "Serology", {}})
                .ok());
    QVERIFY(save_report(kStaff,
                        {std::nullopt, {9007199254740992LL, 2, "", "", "Serology", "", "N"}, "Serology", {}})
                .ok());
    const ReportRequest r = test_report_request(catalogue::kSerology, 9007199254740993LL);
    QCOMPARE(r.selection->value.toLongLong(), 9007199254740993LL);
}

void TestHardening::report_modify_and_delete_are_journalled() {
    QVERIFY(add_patient(kStaff, minimal_patient(8, "Patient", "", "")).ok());
    QVERIFY(save_report(kStaff, {std::nullopt,
                                 {3, 8, "Dr. X", "2026-12-01", "Serology", "", "Y"},
                                 "Serology",
                                 {{0, "ASLO (N : Negative)", "Positive"}}})
                .ok());
    auto snapshot = report_snapshot("Serology", 3).value;
    QVERIFY(snapshot);
    ReportChange change{{3, 8, "Dr. Y", {}, "Serology", "", {}},
                        "Serology",
                        {{0, "ASLO (N : Negative)", "Negative"}},
                        {},
                        *snapshot};
    // A change looked up before another workstation's store is refused.
    QSqlQuery other(folder_->other_workstation());
    QVERIFY(other.exec("update Serology set result = 'Weakly positive' where lab_id = 3"));
    QCOMPARE(modify_report(kStaff, change).kind, DbError::Kind::Changed);
    QCOMPARE(journal_rows(), 0);
    change.looked_up = *report_snapshot("Serology", 3).value;
    QVERIFY(modify_report(kStaff, change).ok());
    QVERIFY(delete_report(kStaff, 3).ok());
    QCOMPARE(journal_rows(), 2);
    close_connection();
    const Run shown = admin({"journal", "--db", folder_->database_path(), "--lab", "3"});
    QCOMPARE(shown.exit_code, 0);
    const QStringList lines = shown.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].contains("create test_main 3") && lines[0].contains("Positive"));
    QVERIFY(lines[1].contains("modify test_main 3") && lines[1].contains("Weakly positive"));
    QVERIFY(lines[2].contains("delete test_main 3") && lines[2].contains("Dr. Y"));
    // Who and where, at a time that carries its offset from UTC.
    QVERIFY2(lines[0].contains(
                 QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)  " +
                                    QRegularExpression::escape(QSysInfo::machineHostName()))),
             qPrintable(lines[0]));
    // The patient's journal: its creation, and the report's three rows.
    QCOMPARE(admin({"journal", "--db", folder_->database_path(), "--patient", "8"})
                 .out.trimmed()
                 .split('\n')
                 .size(),
             4);

    // The chain holds; an edited row, or a deleted one, is named.
    const Run intact = admin({"journal", "--verify", "--db", folder_->database_path()});
    QCOMPARE(intact.exit_code, 0);
    QVERIFY2(intact.out.contains("intact (4 rows)"), qPrintable(intact.out));
    const std::pair<const char*, const char*> tampered[] = {
        {"update change_log set old_values = replace(old_values, 'Dr. Y', 'Dr. Z') where id = 4", "row 4"},
        {"delete from change_log where id = 2", "row 3"}};
    for (const auto& [tamper, named] : tampered) {
        const QString copy = QDir(folder_->path()).filePath("tampered.mdb");
        QFile::remove(copy);
        QVERIFY(QFile::copy(folder_->database_path(), copy));
        raw(copy, tamper);
        const Run broken = admin({"journal", "--verify", "--db", copy});
        QVERIFY(broken.exit_code != 0);
        QVERIFY2(broken.err.contains(QString(named) + " does not match"), qPrintable(broken.err));
    }
}

void TestHardening::bad_files_are_named_and_never_written_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    QTest::newRow("zero bytes") << "empty"
                                << "the file is empty";
    QTest::newRow("another program's database") << "foreign"
                                                << "not a Tavora Lab database";
    QTest::newRow("newer version") << "newer"
                                   << "newer version";
    QTest::newRow("write-ahead log") << "wal"
                                     << "write-ahead-log";
    QTest::newRow("older version") << "older"
                                   << "tavora-lab-admin upgrade";
}

void TestHardening::bad_files_are_named_and_never_written() {
    QFETCH(QString, kind);
    QFETCH(QString, said);
    close_connection();
    const QString path = folder_->database_path();
    QFile::remove(path);
    if (kind == "empty") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == "foreign") {
        raw(path, "create table accounts (id integer primary key, owner text); insert into accounts values "
                  "(1, 'x')");
    } else {
        QVERIFY(create_database(path).isEmpty());
        if (kind == "newer")
            raw(path, qPrintable(QString("PRAGMA user_version = %1").arg(kSchemaVersion + 1)));
        if (kind == "wal") raw(path, "PRAGMA journal_mode = WAL");
        if (kind == "older") raw(path, "PRAGMA application_id = 0; PRAGMA user_version = 0");
    }
    const QByteArray before = bytes_of(path);
    auto id = next_patient_id();
    QCOMPARE(id.error.kind, DbError::Kind::Unavailable);
    QVERIFY2(id.error.description.contains("tavora lab.mdb") && id.error.description.contains(said),
             qPrintable(id.error.description));
    QVERIFY(!add_patient(kStaff, minimal_patient(1, "x", "", "")).ok());
    QCOMPARE(bytes_of(path), before);
    const Run checked = admin({"check", "--db", path});
    QVERIFY(checked.exit_code != 0);
    QVERIFY2(checked.err.contains(said), qPrintable(checked.err));
}

void TestHardening::a_damaged_file_takes_no_more_work() {
    // Classifying an error changes nothing; the connection's owner reacts.
    QCOMPARE(DbError::from_code(11, "corrupt").kind, DbError::Kind::Damaged);
    QCOMPARE(DbError::from_sqlstate("08006", "gone").kind, DbError::Kind::Unavailable);
    QVERIFY(!database_damaged());
    for (int id = 1; id <= 400; ++id)
        QVERIFY(add_patient(kStaff, minimal_patient(id, QString("Patient %1 ").arg(id).repeated(8), "", ""))
                    .ok());
    close_connection();
    QCOMPARE(admin({"check", "--db", folder_->database_path()}).exit_code, 0);
    {
        // Scribble over every page but the first (the schema): the tables' pages.
        QFile f(folder_->database_path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(4096);
        f.write(QByteArray(f.size() - 4096, '\x5a'));
    }
    const Run checked = admin({"check", "--db", folder_->database_path()});
    QVERIFY(checked.exit_code != 0);
    auto list = select_rows("select patient_name from registration order by patient_id");
    QVERIFY2(list.error.kind == DbError::Kind::Damaged, qPrintable(list.error.description));
    QVERIFY(list.error.description.contains("tavora lab.mdb"));
    QVERIFY(list.error.description.contains("restore the last backup"));
    // The run writes nothing more to it.
    const QByteArray before = bytes_of(folder_->database_path());
    QCOMPARE(add_row("doctors", {{"name", "x"}}).kind, DbError::Kind::Damaged);
    QCOMPARE(bytes_of(folder_->database_path()), before);
}

void TestHardening::a_file_found_damaged_is_refused_by_every_workstation() {
    for (int id = 1; id <= 400; ++id)
        QVERIFY(add_patient(kStaff, minimal_patient(id, QString("Patient %1").arg(id), "", "")).ok());
    QTemporaryDir backups;
    QCOMPARE(admin({"backup", "--db", folder_->database_path(), "--to", backups.path()}).exit_code, 0);
    const QString backup = backups.filePath(QDir(backups.path()).entryList(QDir::Files).value(0));
    // One damaged page, of an index: the program itself would notice nothing on a save.
    const int page = select_first("select rootpage from sqlite_schema where name = 'registration_reg_date'")
                         .value->value(0)
                         .toInt();
    {
        QFile f(folder_->database_path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(qint64(page - 1) * 4096 + 8);
        f.write(QByteArray(4000, '\x5a'));
    }
    const Run checked = admin({"check", "--db", folder_->database_path()});
    QVERIFY(checked.exit_code != 0);
    QVERIFY(QFile::exists(folder_->database_path() + ".damaged"));
    // This workstation opened the file before: its next save is refused, naming the file.
    const DbError refused =
        in_transaction([] { return add_patient(kStaff, minimal_patient(401, "After", "", "")); });
    QCOMPARE(refused.kind, DbError::Kind::Damaged);
    QVERIFY(refused.description.contains("tavora lab.mdb") &&
            refused.description.contains("restore the last backup"));
    QVERIFY(!find_patient(401).value);
    // Restored (the program still running): the mark goes, and work goes on.
    QCOMPARE(admin({"restore", backup, "--db", folder_->database_path(), "--force"}).exit_code, 0);
    QVERIFY(!QFile::exists(folder_->database_path() + ".damaged"));
    QVERIFY(in_transaction([] { return add_patient(kStaff, minimal_patient(401, "After", "", "")); }).ok());
    // A mark on a file that checks clean is removed by the check.
    write_damage_marker(folder_->database_path(), "by hand");
    close_connection();
    const Run clean = admin({"check", "--db", folder_->database_path()});
    QCOMPARE(clean.exit_code, 0);
    QVERIFY(clean.out.contains("the mark is removed"));
    QVERIFY(!QFile::exists(folder_->database_path() + ".damaged"));
}

void TestHardening::older_files_are_upgraded_in_one_step() {
    close_connection();
    const QString path = folder_->database_path();
    // A file as the first version made it: no journal, no search index.
    raw(path, "DROP TABLE change_log; DROP TABLE registration_search; "
              "DROP INDEX registration_reg_date; "
              "DROP TABLE users; DROP TABLE critical_calls; DROP TABLE analyzer_messages; "
              "DROP TABLE pending_results; DROP TABLE order_tests; "
              "DROP TRIGGER registration_search_insert; DROP TRIGGER registration_search_delete; "
              "DROP TRIGGER registration_search_update; "
              "PRAGMA application_id = 0; PRAGMA user_version = 0; "
              "INSERT INTO registration (patient_id, patient_name) VALUES (1, 'Kept')");
    QVERIFY(next_patient_id().error.description.contains("older version"));
    const Run up = admin({"upgrade", "--db", path});
    QVERIFY2(up.exit_code == 0, qPrintable(up.err));
    QVERIFY(up.out.contains(QString("version 0 to version %1").arg(kSchemaVersion)));
    QCOMPARE(next_patient_id().value, 2);
    QCOMPARE(list_keys(patient_search("Kep")).value, QList<qint64>{1}); // the search index was built
    QCOMPARE(journal_rows(), 0);                                        // the journal table is there
    QCOMPARE(number_of("select count(*) from users where legacy_password = 1"), 4); // the built-in logins
    QCOMPARE(number_of("select count(*) from users where role = 'senior-technician'"), 2); // their rights
    QCOMPARE(number_of("select count(*) from users where role = 'technician'"), 2);
    QCOMPARE(number_of("select count(*) from critical_calls"), 0);
    close_connection();
    QVERIFY(admin({"upgrade", "--db", path}).out.contains("already up to date"));
    // From the version before this one: every row of every table is kept.
    raw(path, "INSERT INTO test_main (lab_id, patient_id, test) VALUES (7, 1, 'Serology');"
              "INSERT INTO report_signoff (lab_id, entered_by) VALUES (7, 'tamor');"
              "INSERT INTO settings VALUES ('require-verification', 'on');"
              "DROP TABLE critical_calls; DROP TABLE analyzer_messages; DROP TABLE pending_results; "
              "DROP TABLE order_tests; PRAGMA user_version = 4");
    const auto counts = [&] {
        QStringList out;
        QSqlQuery q(folder_->other_workstation());
        for (const char* t :
             {"registration", "test_main", "report_signoff", "users", "settings", "change_log"}) {
            q.exec(QString("select count(*) from %1").arg(t));
            out << (q.next() ? q.value(0).toString() : QString("none"));
        }
        return out;
    };
    const QStringList rows_before = counts();
    QCOMPARE(rows_before.value(1), QString("1"));
    QVERIFY(admin({"upgrade", "--db", path})
                .out.contains(QString("version 4 to version %1").arg(kSchemaVersion)));
    QCOMPARE(counts(), rows_before);
    QCOMPARE(number_of("select count(*) from critical_calls"), 0);
    QCOMPARE(number_of("select count(*) from pending_results"), 0);
    close_connection();
    const QString foreign = QDir(folder_->path()).filePath("foreign.db");
    raw(foreign, "create table t (x)");
    QVERIFY(admin({"upgrade", "--db", foreign}).exit_code != 0);
}

void TestHardening::report_queries_can_only_read_data() {
    QTest::addColumn<QString>("sql");
    QTest::newRow("attach the live file") << "ATTACH DATABASE '%1' AS live";
    QTest::newRow("delete patients") << "DELETE FROM registration";
    QTest::newRow("create a file") << "VACUUM INTO '%2'";
    QTest::newRow("a pragma that writes") << "PRAGMA user_version = 7";
    QTest::newRow("a second statement") << "SELECT 1; DELETE FROM registration";
    QTest::newRow("a code address") << "SELECT fts3_tokenizer('simple')";
    QTest::newRow("a memory bomb") << "SELECT randomblob(900000000)";
    QTest::newRow("zeroed memory") << "SELECT zeroblob(900000000)";
    QTest::newRow("an extension") << "SELECT load_extension('/tmp/x.so')";
}

void TestHardening::report_queries_can_only_read() {
    QFETCH(QString, sql);
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Kept", "", "")).ok());
    const QString made = QDir(folder_->path()).filePath("made.db");
    sql = sql.arg(folder_->database_path(), made);
    const QString file = one_query_report(folder_->path(), sql);
    const Prepared p = prepare_report({file, std::nullopt}, folder_->database_path());
    QVERIFY(!p.report);
    QVERIFY2(p.error.contains("evil.rpt"), qPrintable(p.error));
    QVERIFY(!QFile::exists(made));
    QCOMPARE(select_rows("select * from registration").value.size(), 1);
}

void TestHardening::report_file_limits_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("said");
    QTest::newRow("20,000 nested sections")
        << QString("{{#a}}").repeated(20000) + QString("{{/a}}").repeated(20000) << "deeper than 16 levels";
    QTest::newRow("a 10 MB body") << QString(10 * 1024 * 1024, 'x') << "larger than";
    QTest::newRow("include /dev/zero") << QString("@include/dev/zero") << "not in the report files' folder";
    QTest::newRow("include the password file")
        << QString("@include/etc/passwd") << "not in the report files' folder";
    QTest::newRow("include the environment")
        << QString("@include/proc/self/environ") << "not in the report files' folder";
    QTest::newRow("include by climbing out")
        << QString("@include../outside.html") << "not in the report files' folder";
    QTest::newRow("sections behind a blank")
        << QString("{{ #a}}").repeated(20000) + QString("{{ /a}}").repeated(20000) << "deeper than 16 levels";
    QTest::newRow("other delimiters")
        << "{{=<% %>=}}" + QString("<%#a%>").repeated(20000) + QString("<%/a%>").repeated(20000)
        << "changes the tag delimiters";
}

void TestHardening::report_file_limits() {
    QFETCH(QString, body);
    QFETCH(QString, said);
    // The report file in a folder of its own, another file beside that folder.
    QDir(folder_->path()).mkpath("files");
    const QString file = QDir(folder_->path()).filePath("files/big.rpt");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (body.startsWith("@include")) {
        QFile outside(QDir(folder_->path()).filePath("outside.html"));
        QVERIFY(outside.open(QIODevice::WriteOnly));
        outside.write("<p>outside</p>");
        f.write(QString("<report title=\"x\"><header include=\"%1\"/><body>x</body></report>")
                    .arg(body.mid(8))
                    .toUtf8());
    } else
        f.write(QString("<report title=\"x\"><body><![CDATA[%1]]></body></report>").arg(body).toUtf8());
    f.close();
    const Prepared p = prepare_report({file, std::nullopt}, folder_->database_path());
    QVERIFY(!p.report);
    QVERIFY2(p.error.contains("big.rpt") && p.error.contains(said), qPrintable(p.error));
}

void TestHardening::hostile_report_files_end_in_a_named_refusal_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("said");
    const QString endless = "WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM r) ";
    QTest::newRow("rows without end") << endless + "SELECT x FROM r"
                                      << "{{#q}}{{x}}{{/q}}"
                                      << "more than 100,000 rows";
    QTest::newRow("a query without end") << endless + "SELECT count(*) AS n FROM r"
                                         << "{{#q}}{{n}}{{/q}}"
                                         << "longer than 10 seconds";
    QTest::newRow("a memory bomb") << "SELECT randomblob(900000000) AS b"
                                   << "{{#q}}{{b}}{{/q}}"
                                   << "not authorized";
    QTest::newRow("sixty rows four deep") << endless + "SELECT x FROM r LIMIT 60"
                                          << "{{#q}}{{#q}}{{#q}}{{#q}}.{{/q}}{{/q}}{{/q}}{{/q}}"
                                          << "repeats sections";
    QTest::newRow("a word of a megabyte") << "SELECT printf('%.*c', 1000000, 'x') AS w"
                                          << "{{#q}}{{w}}{{/q}}"
                                          << "a word of more than";
    QTest::newRow("pages without end")
        << endless + "SELECT printf('%.*c', 150, 'y') || ' ' || x AS t FROM r LIMIT 90000"
        << "{{#q}}<p>{{t}} {{t}} {{t}}</p>{{/q}}"
        << "more than 16 MB of text";
}

void TestHardening::hostile_report_files_end_in_a_named_refusal() {
    QFETCH(QString, sql);
    QFETCH(QString, body);
    QFETCH(QString, said);
    const QString file = QDir(folder_->path()).filePath("hostile.rpt");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QString("<report title=\"x\"><query name=\"q\"><![CDATA[%1]]></query>"
                    "<body><![CDATA[%2]]></body></report>")
                .arg(sql, body)
                .toUtf8());
    f.close();
    const Prepared p = prepare_report({file, std::nullopt}, folder_->database_path());
    QVERIFY(!p.report);
    QVERIFY2(p.error.contains("hostile.rpt") && p.error.contains(said), qPrintable(p.error));
    // Alive, and within bounds: the largest this process ever grew.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    QVERIFY2(usage.ru_maxrss < 1024 * 1024, qPrintable(QString("%1 KiB at most").arg(usage.ru_maxrss)));
}

void TestHardening::a_report_prints_right_after_a_crash() {
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Before the crash", "", "")).ok());
    close_connection();
    // A save half-way through when the machine went down: the file holds some
    // of its pages, and the journal beside it the old ones.
    const QString crashed = QDir(folder_->path()).filePath("crashed");
    QDir().mkpath(crashed);
    sqlite3* db = nullptr;
    sqlite3_open(folder_->database_path().toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN; UPDATE registration SET patient_name = 'Half written'",
                 nullptr, nullptr, nullptr);
    // More than the cache holds, so pages reach the file before the commit.
    for (int i = 0; i < 300; ++i)
        sqlite3_exec(db, "INSERT INTO doctors VALUES (hex(randomblob(600)))", nullptr, nullptr, nullptr);
    QVERIFY(QFile::exists(folder_->database_path() + "-journal"));
    QVERIFY(QFile::copy(folder_->database_path(), crashed + "/tavora lab.mdb"));
    QVERIFY(QFile::copy(folder_->database_path() + "-journal", crashed + "/tavora lab.mdb-journal"));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    // Fresh copies of the crashed pair for the admin tool's commands below.
    std::vector<std::unique_ptr<QTemporaryDir>> copies;
    for (int i = 0; i < 3; ++i) {
        copies.push_back(std::make_unique<QTemporaryDir>());
        for (const char* name : {"/tavora lab.mdb", "/tavora lab.mdb-journal"})
            QVERIFY(QFile::copy(crashed + name, copies.back()->path() + name));
    }
    const QString file = QDir(crashed).filePath("names.rpt");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<report title=\"x\"><query name=\"p\"><![CDATA[SELECT patient_name FROM registration]]></query>"
            "<body><![CDATA[{{#p}}[{{patient_name}}]{{/p}}]]></body></report>");
    f.close();
    const Prepared p = prepare_report({file, std::nullopt}, crashed + "/tavora lab.mdb");
    QVERIFY2(p.report, qPrintable(p.error));
    QVERIFY(p.report->body_html.contains("[Before the crash]"));
    QVERIFY(!p.report->body_html.contains("Half written"));

    // The admin tool's commands let SQLite roll the crashed save back first, each on a fresh copy.
    const QStringList commands[] = {{"check"}, {"journal"}, {"backup", "--to", "@/backups"}};
    for (int i = 0; i < 3; ++i) {
        const QString copy = copies[i]->path();
        QStringList args = commands[i];
        args.replaceInStrings("@", copy);
        args << "--db" << copy + "/tavora lab.mdb";
        const Run r = admin(args);
        QVERIFY2(r.exit_code == 0, qPrintable(args.join(' ') + ": " + r.err));
        QVERIFY(!QFile::exists(copy + "/tavora lab.mdb-journal"));
    }
}

void TestHardening::init_creates_exclusively() {
    QTemporaryDir dir;
    const QString path = dir.filePath("new.mdb");
    QFuture<Run> a = QtConcurrent::run([&] { return admin({"init", path}); });
    const Run b = admin({"init", path});
    const Run first = a.result();
    QCOMPARE(int(first.exit_code == 0) + int(b.exit_code == 0), 1);
    QVERIFY((first.exit_code == 0 ? b : first).err.contains("exists already"));
    QCOMPARE(integrity_problems(path), QString());
    QVERIFY(admin({"init", ""}).exit_code != 0);
    QVERIFY(admin({"init", "file:" + dir.filePath("uri.mdb")}).exit_code != 0);
    QVERIFY(!QFile::exists(dir.filePath("uri.mdb")));
}

TAVORA_TEST_MAIN(TestHardening)
#include "test_hardening.moc"
