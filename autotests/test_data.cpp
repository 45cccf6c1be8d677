#include "data_support.h"

#include "connection.h"
#include "core_tables.h"
#include "dates.h"
#include "lab_reports.h"
#include "migration.h"
#include "number_value.h"
#include "postgres_database.h"
#include "records.h"
#include "schema.h"
#include "schema_setup.h"
#include "server_backup.h"
#include "sqlite_database.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

class TestData : public QObject {
    Q_OBJECT

private slots:
    void number_value_reads_like_the_screens_data();
    void number_value_reads_like_the_screens();
    void plain_number_has_no_decoration();

    void ids_start_at_one_and_follow_the_largest_key();
    void offered_ids_are_reserved_for_one_screen();
    void duplicate_keys_are_told_apart();
    void text_and_table_names_ignore_case();
    void failed_transaction_leaves_nothing_behind();
    void awkward_text_round_trips_unchanged_data();
    void awkward_text_round_trips_unchanged();
    void minimal_registration_row_has_placeholders();
    void list_reads_everything_and_holds_no_lock();
    void busy_database_is_reported_as_busy();
    void unknown_table_names_are_refused();
    void a_server_that_goes_away_is_named_and_reached_again();
    void a_file_moves_to_the_server_once_with_every_row();
    void a_server_backup_restores_into_an_empty_database_only();
    void the_admin_tool_takes_a_server_url();

    void missing_database_is_silent_until_used();
    void file_that_is_not_a_database_does_not_open();
    void opening_twice_keeps_one_connection();
    void path_without_extension_names_the_file();
    void new_database_is_never_made_over_a_file();
    void every_earlier_version_upgrades_to_the_new_schema();
    void a_file_and_a_server_have_the_same_columns();
};

void TestData::number_value_reads_like_the_screens_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("blanks anywhere") << " 1 2 " << 12.0;
    QTest::newRow("tabs and line feeds") << "\t1\n5" << 15.0;
    QTest::newRow("stops at a letter") << "12a" << 12.0;
    QTest::newRow("hexadecimal") << "&H1F" << 31.0;
    QTest::newRow("hexadecimal lower case") << "&h1f" << 31.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("exponent") << "-3.5e2" << -350.0;
    QTest::newRow("exponent without digits") << "4e" << 4.0;
    QTest::newRow("plus sign") << "+9" << 9.0;
    QTest::newRow("decimal") << "100.00000" << 100.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("minus alone") << "-" << 0.0;
    QTest::newRow("two signs") << "--5" << 0.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
}

void TestData::number_value_reads_like_the_screens() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(number_value(text), value);
}

void TestData::plain_number_has_no_decoration() {
    QCOMPARE(plain_number(number_value("007")), QString("7"));
    QCOMPARE(plain_number(12.0), QString("12"));
    QCOMPARE(plain_number(-350.0), QString("-350"));
    QCOMPARE(plain_number(0.5), QString("0.5"));
    QCOMPARE(plain_number(1e20), QString("100000000000000000000"));
    QCOMPARE(key_value(7.0).typeId(), int(QMetaType::LongLong));
    QCOMPARE(key_value(7.5).typeId(), int(QMetaType::Double));
}

void TestData::ids_start_at_one_and_follow_the_largest_key() {
    ProgramFolder folder;
    QCOMPARE(next_patient_id().value, 1);
    QCOMPARE(next_lab_id().value, 1);
    for (int id : {1, 7, 2}) {
        QVERIFY(add_patient(kStaff, minimal_patient(id, "P", "", "")).ok());
        QVERIFY(add_row("test_main", {{"lab_id", id}, {"test", "Serology"}}).ok());
    }
    QCOMPARE(next_patient_id().value, 8);
    QCOMPARE(next_lab_id().value, 8);
    // A deleted last report lets its number be handed out again.
    QVERIFY(delete_rows("test_main", "lab_id", 7).ok());
    QCOMPARE(next_lab_id().value, 3);
}

void TestData::duplicate_keys_are_told_apart() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(5, "A", "", "")).ok());
    const DbError patient = add_patient(kStaff, minimal_patient(5, "B", "", ""));
    QVERIFY(patient.duplicate());
    QCOMPARE(patient.code, testing_on_server() ? 23505 : 1555); // primary key (a server has one code)

    QVERIFY(add_row("test_main", {{"lab_id", 9}}).ok());
    const DbError report = add_row("test_main", {{"lab_id", 9}});
    QVERIFY(report.duplicate());
    QCOMPARE(report.code, testing_on_server() ? 23505 : 2067); // unique

    // Another kind of failure is not a duplicate.
    const DbError other = add_row("test_main", {{"lab_id", "not a number"}});
    QVERIFY(!other.ok());
    QVERIFY(!other.duplicate());
}

void TestData::text_and_table_names_ignore_case() {
    ProgramFolder folder;
    QVERIFY(add_row("DOCTORS", {{"name", "Dr. Mehta"}}).ok());
    auto found = select_rows("select * from Doctors where name = ?", {"DR. MEHTA"});
    QVERIFY(found.ok());
    QCOMPARE(found.value.size(), 1);
    QCOMPARE(found.value[0].text(0), QString("Dr. Mehta"));
    QVERIFY(add_row("test_main", {{"lab_id", 1}, {"test", "Prothrombin time"}}).ok());
    QCOMPARE(select_rows("select * from test_main where test = ?", {"prothrombin time"}).value.size(), 1);
    QCOMPARE(known_table("blood_SUGAR_report"), QString("blood_sugar_report"));
    QCOMPARE(known_table("Peripheral_blood_smear"), QString("peripheral_blood_smear"));
}

void TestData::failed_transaction_leaves_nothing_behind() {
    ProgramFolder folder;
    QVERIFY(add_row("test_main", {{"lab_id", 3}}).ok());
    const DbError e = in_transaction([] {
        if (DbError a = add_patient(kStaff, minimal_patient(1, "New", "", "")); !a.ok()) return a;
        if (DbError b = add_row("Serology", {{"lab_id", 3}, {"item", "RA"}, {"result", "+"}}); !b.ok())
            return b;
        return add_row("test_main", {{"lab_id", 3}}); // taken: the whole save fails
    });
    QVERIFY(e.duplicate());
    QVERIFY(!find_patient(1).value.has_value());
    QCOMPARE(select_rows("select * from Serology").value.size(), 0);

    QVERIFY(in_transaction([] { return add_patient(kStaff, minimal_patient(2, "Kept", "", "")); }).ok());
    QVERIFY(find_patient(2).value.has_value());
}

void TestData::awkward_text_round_trips_unchanged_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("apostrophe") << "D'Souza";
    QTest::newRow("quotes") << "say \"ahh\"";
    QTest::newRow("semicolon") << "a; b";
    QTest::newRow("sql fragment") << "x'); DROP TABLE registration; --";
    QTest::newRow("or clause") << "' or '1'='1";
    QTest::newRow("non-ascii") << QString::fromUtf8("Zoë Ñúñez ஆ");
    QTest::newRow("number sign date") << "#12/01/2026#";
}

void TestData::awkward_text_round_trips_unchanged() {
    QFETCH(QString, text);
    ProgramFolder folder;
    Patient p = minimal_patient(1, text, text, "");
    p.address = text;
    p.brief_history = text;
    QVERIFY(add_patient(kStaff, p).ok());
    auto found = find_patient(1);
    QVERIFY(found.ok() && found.value);
    QCOMPARE(found.value->patient_name, text);
    QCOMPARE(found.value->address, text);
    QCOMPARE(found.value->brief_history, text);
    QVERIFY(add_row("doctors", {{"name", text}}).ok());
    QCOMPARE(select_rows("select name from doctors where name = ?", {text}).value.size(), 1);
    QCOMPARE(select_rows("select * from registration").value.size(), 1);
}

void TestData::minimal_registration_row_has_placeholders() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(4, "Asha", "30", "F")).ok());
    const Patient p = *find_patient(4).value;
    QCOMPARE(p.patient_name, QString("Asha"));
    QCOMPARE(p.age, QString("30"));
    QCOMPARE(p.sex, QString("F"));
    for (const QString& v : {p.phone, p.mobile, p.occupation, p.next_of_kin, p.address, p.brief_history})
        QCOMPARE(v, QString("-"));
    QCOMPARE(p.emailid, QString("_"));
    QCOMPARE(p.reg_date, today_iso());
}

void TestData::list_reads_everything_and_holds_no_lock() {
    ProgramFolder folder;
    for (int id = 3; id >= 1; --id)
        QVERIFY(add_patient(kStaff, minimal_patient(id, QString("P%1").arg(id), "", "")).ok());
    auto keys = list_keys(patient_list());
    QVERIFY(keys.ok());
    QCOMPARE(keys.value, (QList<qint64>{1, 2, 3}));
    auto list = list_rows(patient_list(), {3, 1});
    QVERIFY(list.ok());
    QCOMPARE(list.value.columns.first(), QString("patient_id"));
    QCOMPARE(list.value.columns.size(), 12);
    QCOMPARE(list.value.rows.size(), 2);
    QCOMPARE(list.value.rows[0][1], QString("P3"));
    QCOMPARE(list.value.rows[1][0], QString("1"));
    // Another workstation can take the write lock at once: nothing is left open.
    const QSqlDatabase other = folder.other_workstation();
    const DbError taken = take_write_lock_at_once(other);
    QVERIFY2(taken.ok(), qPrintable(taken.description));
    QVERIFY(QSqlQuery(other).exec("ROLLBACK"));
}

void TestData::busy_database_is_reported_as_busy() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(1, "A", "", "")).ok());
    Transaction hold; // this workstation is half-way through a save
    QVERIFY(hold.begin_error().ok());
    const DbError e = take_write_lock_at_once(folder.other_workstation());
    QVERIFY(e.busy());
    QVERIFY(!e.duplicate());
}

void TestData::unknown_table_names_are_refused() {
    ProgramFolder folder;
    QVERIFY(!add_row("registration; drop table doctors", {{"name", "x"}}).ok());
    QVERIFY(!delete_rows("sqlite_schema", "name", "x").ok());
    QVERIFY(!change_rows("doctors", {{"name = 'x' --", "y"}}, "name", "z").ok());
    QVERIFY(known_table("no_such_table").isEmpty());
}

void TestData::a_server_that_goes_away_is_named_and_reached_again() {
    if (!testing_on_server()) QSKIP("a server's own behaviour");
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(1, "A", "", "")).ok());
    const QVariant backend = select_first("SELECT pg_backend_pid()").value->value(0);
    // The server ends this program's connection (a restart, a network cut).
    QSqlQuery other(folder.other_workstation());
    QVERIFY(other.exec(QString("SELECT pg_terminate_backend(%1)").arg(backend.toLongLong())));
    const auto lost = next_patient_id();
    QCOMPARE(lost.error.kind, DbError::Kind::Unavailable);
    QVERIFY2(lost.error.description.startsWith("The database server \"") &&
                 lost.error.description.contains(folder.server_url().section("dbname=", 1)),
             qPrintable(lost.error.description));
    // The next action connects again and finds everything stored.
    QCOMPARE(next_patient_id().value, 2);
    QVERIFY(add_patient(kStaff, minimal_patient(2, "B", "", "")).ok());
}

void TestData::a_file_moves_to_the_server_once_with_every_row() {
    if (!testing_on_server()) QSKIP("a server's own behaviour");
    // A laboratory's file: patients, a report with its rows and its journal.
    QTemporaryDir dir;
    const QString file = dir.filePath("tavora lab.mdb");
    QVERIFY(create_database(file).isEmpty());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "the file");
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const char* sql :
             {"INSERT INTO registration (patient_id, patient_name, reg_date) VALUES (1, 'Asha D''Souza', "
              "'2026-12-01'), (2, 'Ravi', '2026-12-02')",
              "INSERT INTO test_main (lab_id, patient_id, test, t_date) VALUES (7, 2, 'Serology', "
              "'2026-12-02')",
              "INSERT INTO Serology (lab_id, item, result) VALUES (7, 'ASLO (N : Negative)', 'Negative'), "
              "(7, 'CRP', '12 mg/L')",
              "INSERT INTO doctors (name) VALUES ('Dr. Rao')",
              "INSERT INTO change_log (changed_at, action, table_name, row_key, old_values) VALUES "
              "('2026-12-02T10:00:00', 'delete', 'test_main', 5, '{\"patient_id\":1}')",
              "INSERT INTO users (login, full_name, role, password_hash, created_at) VALUES ('meera', 'Dr. "
              "Meera', "
              "'pathologist', 'x', '2026-12-01')"})
            QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase("the file");
    ProgramFolder folder; // the server database, as init made it
    const Migration moved = migrate_to_server(file, folder.server_url());
    QVERIFY2(moved.error.isEmpty(), qPrintable(moved.error));
    QHash<QString, qint64> rows;
    for (const TableCopy& t : moved.tables)
        rows.insert(t.table, t.rows);
    QCOMPARE(rows.value("registration"), 2);
    QCOMPARE(rows.value("Serology"), 2);
    QCOMPARE(rows.value("users"), 5); // the file's logins, not init's
    // The program finds it all on the server, in the order stored.
    QCOMPARE(find_patient(1).value->patient_name, QString("Asha D'Souza"));
    const auto results = report_results("Serology", 7).value;
    QCOMPARE(results.size(), 2);
    QCOMPARE(results[1].result, QString("12 mg/L"));
    QCOMPARE(next_lab_id().value, 8);
    QVERIFY(refuse_reused_id("test_main", 5).duplicate());    // the journal came along
    QVERIFY(add_row("doctors", {{"name", "Dr. Iyer"}}).ok()); // new rows get fresh rowids
    QCOMPARE(doctor_names().value, (QStringList{"Dr. Rao", "Dr. Iyer"}));
    // A second run finds the data and copies nothing.
    const Migration again = migrate_to_server(file, folder.server_url());
    QVERIFY2(again.error.contains("holds data already"), qPrintable(again.error));
    QCOMPARE(select_rows("select * from registration").value.size(), 2);
}

void TestData::a_server_backup_restores_into_an_empty_database_only() {
    if (!testing_on_server()) QSKIP("a server's own behaviour");
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(1, "Asha", "", "")).ok());
    QVERIFY(add_row("doctors", {{"name", "Dr. Rao"}}).ok());
    QTemporaryDir dir;
    const QString dump = dir.filePath("tavora lab09-12-2026.dump");
    QCOMPARE(dump_server_database(folder.server_url(), dump), QString());
    QVERIFY(QFile::exists(dump) && !QFile::exists(dump + ".partial"));
    // Refused: a database that holds tables (this one), and a file that is no dump.
    QVERIFY(restore_server_database(dump, folder.server_url()).contains("holds tables"));
    const QString empty = empty_server_database();
    QFile junk(dir.filePath("junk.dump"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a dump");
    junk.close();
    QVERIFY(restore_server_database(junk.fileName(), empty).contains("not a backup"));
    // Into an empty database: the laboratory's, its rows and its reader role back.
    QCOMPARE(restore_server_database(dump, empty), QString());
    QSqlDatabase restored = QSqlDatabase::addDatabase("QPSQL", "restored");
    QCOMPARE(open_server(restored, empty), QString());
    {
        QSqlQuery q(restored);
        QVERIFY(q.exec("SELECT patient_name FROM registration") && q.next());
        QCOMPARE(q.value(0).toString(), QString("Asha"));
        QVERIFY(q.exec("SELECT has_table_privilege('tavora_report_reader', 'registration', 'SELECT')") &&
                q.next());
        QVERIFY(q.value(0).toBool());
    }
    restored.close();
    restored = QSqlDatabase();
    QSqlDatabase::removeDatabase("restored");
}

void TestData::the_admin_tool_takes_a_server_url() {
    if (!testing_on_server()) QSKIP("a server's own behaviour");
    const QString url = empty_server_database();
    QCOMPARE(admin({"init", url}).exit_code, 0);
    const Run again = admin({"init", url});
    QVERIFY2(again.exit_code != 0 && again.err.contains("holds tables already"), qPrintable(again.err));
    QVERIFY(admin({"check", "--db", url}).out.contains(": ok"));
    QVERIFY(admin({"upgrade", "--db", url}).out.contains("already up to date"));
    // A database of the schema before this one is brought up to date, its grants too.
    QCOMPARE(
        with_server_connection(url, false,
                               [](QSqlDatabase& db) {
                                   QSqlQuery q(db);
                                   return q.exec("DROP TABLE analyzer_messages; DROP TABLE pending_results; "
                                                 "ALTER TABLE test_main ALTER COLUMN t_date TYPE citext; "
                                                 "UPDATE tavora_meta SET schema_version = 5")
                                              ? QString()
                                              : q.lastError().text();
                               }),
        QString());
    QVERIFY(admin({"check", "--db", url}).exit_code != 0);
    QVERIFY(
        admin({"upgrade", "--db", url}).out.contains(QString("version 5 to version %1").arg(kSchemaVersion)));
    QVERIFY(admin({"check", "--db", url}).out.contains(": ok"));
    // Its dates are plain texts again.
    QCOMPARE(with_server_connection(url, true,
                                    [](QSqlDatabase& db) {
                                        QSqlQuery q(db);
                                        return q.exec(
                                                   "SELECT data_type FROM information_schema.columns WHERE "
                                                   "table_name = 'test_main' AND column_name = 't_date'") &&
                                                       q.next()
                                                   ? q.value(0).toString()
                                                   : q.lastError().text();
                                    }),
             QString("text"));
    QCOMPARE(admin({"user", "add", "meera", "--name", "Dr. Meera", "--role", "pathologist", "--db", url},
                   "Slide-42 stain\n")
                 .exit_code,
             0);
    QVERIFY(admin({"journal", "--verify", "--db", url}).out.contains("intact"));
    QTemporaryDir dir;
    const Run backup = admin({"backup", "--db", url, "--to", dir.path()});
    QVERIFY2(backup.exit_code == 0, qPrintable(backup.err));
    const QString dump = QDir(dir.path()).entryList({"*.dump"}).value(0);
    QVERIFY(!dump.isEmpty());
    const QString other = empty_server_database();
    QVERIFY(admin({"check", "--db", other}).err.contains("holds no Tavora Lab database"));
    QCOMPARE(admin({"restore", QDir(dir.path()).filePath(dump), "--db", other}).exit_code, 0);
    QVERIFY(admin({"user", "list", "--db", other}).out.contains("meera"));
    QVERIFY(admin({"restore", QDir(dir.path()).filePath(dump), "--db", other}).err.contains("holds tables"));
    // A report file printed from the server, as the program prints it.
    QCOMPARE(with_server_connection(
                 url, true,
                 [](QSqlDatabase& db) {
                     QSqlQuery q(db);
                     return q.exec("INSERT INTO registration (patient_id, patient_name) VALUES "
                                   "(1, 'Asha Rao'); INSERT INTO test_main (lab_id, patient_id, "
                                   "test) VALUES (12, 1, 'Serology'); INSERT INTO serology "
                                   "(lab_id, item, result) VALUES (12, 'ASLO', 'Positive')")
                                ? QString()
                                : q.lastError().text();
                 }),
             QString());
    const QString pdf = dir.filePath("serology.pdf");
    const Run render = admin({"render", REPORT_FILES_DIR "/Serology.rpt", "--db", url, "--formula",
                              "{test_main.lab_ID} = 12", "--pdf", pdf});
    QVERIFY2(render.exit_code == 0, qPrintable(render.err));
    const QString text = pdf_to_text(pdf);
    QVERIFY2(text.contains("Asha Rao") && text.contains("Positive"), qPrintable(text));
}

void TestData::missing_database_is_silent_until_used() {
    // Silent: this suite links no message box, and the data library none either.
    ProgramFolder folder(false);
    open_connection();
    QVERIFY(!connection_is_open());
    QVERIFY(!QFile::exists(folder.database_path())); // never created
    auto id = next_patient_id();
    QCOMPARE(id.error.kind, DbError::Kind::Unavailable);
    QVERIFY(id.error.description.contains("tavora lab.mdb"));
    QVERIFY(!QFile::exists(folder.database_path()));
    // The file turning up later is found by the next action.
    QVERIFY(create_database(folder.database_path()).isEmpty());
    QCOMPARE(next_patient_id().value, 1);
}

void TestData::file_that_is_not_a_database_does_not_open() {
    ProgramFolder folder(false);
    QFile f(folder.database_path());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    open_connection();
    QVERIFY(!connection_is_open());
    QCOMPARE(next_lab_id().error.kind, DbError::Kind::Unavailable);
}

void TestData::opening_twice_keeps_one_connection() {
    ProgramFolder folder;
    open_connection();
    QVERIFY(connection_is_open());
    open_connection();
    QVERIFY(connection_is_open());
    QCOMPARE(QSqlDatabase::connectionNames().count(QString::fromLatin1(kConnectionName)), 1);
    QVERIFY(close_connection().ok());
    QVERIFY(!connection_is_open());
}

void TestData::path_without_extension_names_the_file() {
    if (testing_on_server()) QSKIP("a file's own behaviour");
    ProgramFolder folder;
    QVERIFY(database_path_without_extension().isEmpty());
    open_connection();
    QCOMPARE(database_path_without_extension() + ".mdb", folder.database_path());
}

void TestData::new_database_is_never_made_over_a_file() {
    if (testing_on_server()) QSKIP("a file's own behaviour");
    ProgramFolder folder;
    QFile f(folder.database_path());
    const qint64 size = f.size();
    QVERIFY(!create_database(folder.database_path()).isEmpty());
    QCOMPARE(QFile(folder.database_path()).size(), size);
    QVERIFY(schema_statements(*file_database({})).join(u' ').contains("STRICT"));
}

namespace {

// Every table's columns in order, as the engine itself describes them
// (name, type, not null, default), and every index's definition.
QStringList described(const QSqlDatabase& db) {
    QSqlQuery q(db);
    const bool file = db.driverName() == "QSQLITE";
    QStringList out;
    const char* columns =
        file ? "SELECT m.name, p.name, p.type, p.\"notnull\", p.dflt_value, p.pk FROM sqlite_schema m, "
               "pragma_table_info(m.name) p WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite%' "
               "ORDER BY m.name, p.cid"
             : "SELECT table_name, column_name, udt_name, is_nullable, column_default, is_identity, "
               "collation_name FROM information_schema.columns WHERE table_schema = current_schema() "
               "ORDER BY table_name, ordinal_position";
    const char* indexes = file ? "SELECT name, sql FROM sqlite_schema WHERE type IN ('index', 'trigger') "
                                 "ORDER BY name"
                               : "SELECT indexname, indexdef FROM pg_indexes WHERE schemaname = "
                                 "current_schema() ORDER BY indexname";
    for (const char* sql : {columns, indexes}) {
        if (!q.exec(sql)) return {q.lastError().text()};
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i).toString();
            out << row.join(" | ");
        }
    }
    return out;
}

// A database of schema `version` made by this program's description of it.
QString database_of_version(const Database& engine, const QString& file_or_url, int version) {
    const QString name = QStringLiteral("version-%1").arg(version);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(engine.driver(), name);
        failure = Database::named(file_or_url)->driver() == "QSQLITE"
                      ? (db.setDatabaseName(file_or_url), db.open() ? QString() : db.lastError().text())
                      : connect_server(db, file_or_url);
        QSqlQuery q(db);
        for (const QString& s : schema_statements(engine, version))
            if (failure.isEmpty() && !q.exec(s)) failure = q.lastError().text() + " in " + s;
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return failure;
}

QStringList described(const QString& file_or_url) {
    const auto database = Database::named(file_or_url);
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(database->driver(), "described");
        const QString failure = database->open(db, true);
        out = failure.isEmpty() ? described(db) : QStringList{failure};
        db.close();
    }
    QSqlDatabase::removeDatabase("described");
    return out;
}

} // namespace

// A database of every earlier version this engine held (a file from the
// first, a server from version 5), brought up to date, has every table,
// column, index and trigger that a new one has, spelt the same.
void TestData::every_earlier_version_upgrades_to_the_new_schema() {
    QTemporaryDir dir;
    const auto make = [&](int version) {
        return testing_on_server() ? empty_server_database() : dir.filePath(QString("v%1.mdb").arg(version));
    };
    const QString fresh = make(kSchemaVersion);
    QCOMPARE(Database::named(fresh)->create(), QString());
    const QStringList expected = described(fresh);
    QVERIFY(expected.size() > 100);
    for (int version = testing_on_server() ? 5 : 0; version < kSchemaVersion; ++version) {
        const QString older = make(version);
        const auto database = Database::named(older);
        QCOMPARE(database_of_version(*database, older, version), QString());
        const Upgrade u = database->upgrade();
        QVERIFY2(u.error.isEmpty(), qPrintable(QString("from %1: %2").arg(version).arg(u.error)));
        QCOMPARE(u.done, QString("brought from version %1 to version %2").arg(version).arg(kSchemaVersion));
        const QStringList got = described(older);
        for (qsizetype i = 0; i < std::max(got.size(), expected.size()); ++i)
            QVERIFY2(got.value(i) == expected.value(i),
                     qPrintable(QString("from %1: %2 (a new database: %3)")
                                    .arg(version)
                                    .arg(got.value(i), expected.value(i))));
    }
}

// The file and the server hold the same tables and columns in the same
// order, of the same kinds with the same defaults (a server adds the rowid
// a file has implicitly, and its own stamp).
void TestData::a_file_and_a_server_have_the_same_columns() {
    if (!testing_on_server()) QSKIP("needs a server beside the file");
    QTemporaryDir dir;
    const QString file = dir.filePath("new.mdb"), server = empty_server_database();
    QCOMPARE(Database::named(file)->create(), QString());
    QCOMPARE(Database::named(server)->create(), QString());
    const auto neutral = [](const QStringList& rows, bool on_server) {
        QStringList out;
        for (const QString& row : rows) {
            QStringList f = row.split(" | ");
            if (f.size() < 6 || f[0] == "tavora_meta" || (on_server && f[1] == "rowid")) continue;
            if (!on_server && f[0].startsWith("registration_search")) continue; // the file's search index
            QString type = f[2].toLower();
            type = type == "bigint" || type == "int8" || type == "integer" ? "number"
                   : type == "bytea" || type == "blob"                     ? "bytes"
                                                                           : "text";
            QString preset = f[4];
            preset.remove(QRegularExpression("::[a-z]+$"));
            out << QStringList{f[0].toLower(), f[1], type, preset}.join(" | ");
        }
        // By table, each table's columns in their order.
        std::stable_sort(out.begin(), out.end(), [](const QString& a, const QString& b) {
            return a.section(u'|', 0, 0) < b.section(u'|', 0, 0);
        });
        return out;
    };
    const QStringList on_file = neutral(described(file), false);
    QVERIFY(on_file.size() > 100);
    QCOMPARE(neutral(described(server), true), on_file);
}

// Two screens open at once are offered different ids, here or at another
// workstation; an id given back, or reserved by a workstation that stopped
// counting, is offered again only while nothing larger was stored; one
// screen at a time sees largest + 1.
void TestData::offered_ids_are_reserved_for_one_screen() {
    ProgramFolder folder;
    QVERIFY(add_patient(kStaff, minimal_patient(4, "Asha", "", "")).ok());
    QCOMPARE(reserve_next_id(IdKind::Patient, 0).value, 5);
    QCOMPARE(reserve_next_id(IdKind::Patient, 0).value, 6); // a second screen
    QCOMPARE(reserve_next_id(IdKind::Lab, 0).value, 1);     // lab ids are a series of their own
    // Another workstation, alive, holds 7.
    QSqlQuery other(folder.other_workstation());
    QVERIFY(other.prepare(
        "INSERT INTO workstations (host, pid, user_name, started_at, seen_at) VALUES ('desk-2', 1, "
        "'quenta', '', ?)"));
    other.addBindValue(QDateTime::currentSecsSinceEpoch());
    QVERIFY(other.exec());
    QVERIFY(
        other.exec("INSERT INTO id_reservations (kind, id, workstation) SELECT 'patient', 7, max(id) FROM "
                   "workstations WHERE host = 'desk-2'"));
    QCOMPARE(reserve_next_id(IdKind::Patient, 0).value, 8);
    // The first screen stores its patient: its reservation ends with the save.
    QVERIFY(in_transaction([] { return add_patient(kStaff, minimal_patient(5, "Ravi", "", "")); }).ok());
    QCOMPARE(number_of("SELECT count(*) FROM id_reservations WHERE kind = 'patient' AND id = 5"), 0);
    // desk-2 stops counting: its 7 lapses. The screens here give 6 and 8 back;
    // 6, 7 and 8 were never stored and nothing larger was, so 6 comes again.
    QVERIFY(other.exec("UPDATE workstations SET seen_at = 0 WHERE host = 'desk-2'"));
    release_reserved_id(IdKind::Patient, 6);
    release_reserved_id(IdKind::Patient, 8);
    QCOMPARE(reserve_next_id(IdKind::Patient, 0).value, 6);
    QCOMPARE(number_of("SELECT count(*) FROM id_reservations WHERE id = 7"), 0);
    // Offering another id gives the previous one back: one screen at a time, largest + 1 each time.
    QCOMPARE(reserve_next_id(IdKind::Patient, 6).value, 6);
    QCOMPARE(reserve_next_id(IdKind::Lab, 1).value, 1);
    // A program that ends takes its screens' reservations with it.
    close_connection();
    QCOMPARE(number_of("SELECT count(*) FROM id_reservations"), 0);
}

TAVORA_DATA_TEST_MAIN(TestData)
#include "test_data.moc"
