#include "ten_year_database.h"

#include <QSqlDatabase>

#include <QSqlQuery>

#include "migration.h"

#include "postgres_database.h"

#include "connection.h"
#include "critical_call.h"
#include "definition.h"
#include "message_box.h"
#include "schema_setup.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <cstdio>

namespace {

// How often each test is asked for, out of 400: routine haematology leads.
struct Share {
    const char* screen;
    int per_400;
};
constexpr Share kShares[] = {
    {"Routine_haemotology", 100},
    {"Blood_sugar_report", 60},
    {"Urinalysis", 50},
    {"biochemistry_report", 40},
    {"Serology", 30},
    {"widal_test", 30},
    {"Thyroid_hormone_profile", 25},
    {"stool_routine", 20},
    {"RBC_indices", 15},
    {"prothrombin_time", 10},
    {"Peripheral_blood_smear", 10},
    {"culture_and_antibiotic_sensitivity_pattern", 10},
};

constexpr const char* kFirst[] = {"Asha", "Ravi", "Meera", "Farah", "Kiran",
                                  "Lata", "Anil", "Noor",  "Usha",  "Joseph"};
constexpr const char* kLast[] = {"D'Souza", "Menon", "Iyer", "Khan", "Rao", "Pereira", "Nair", "Shetty"};
constexpr const char* kDoctors[] = {"Dr. R. Menon", "Dr. D'Souza", "Dr. A. Khan", "Dr. S. Iyer", "Self"};

bool run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void bind_text(sqlite3_stmt* s, int i, const QByteArray& text) {
    sqlite3_bind_text(s, i, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

// The schema version a file declares (its user_version), or -1 when it
// cannot be read as a database.
int schema_version_of(const QString& path) {
    sqlite3* db = nullptr;
    int version = -1;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &q, nullptr) == SQLITE_OK &&
            sqlite3_step(q) == SQLITE_ROW)
            version = sqlite3_column_int(q, 0);
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    return version;
}

} // namespace

QString ten_year_database(const QStringList& args) {
    // --patients N [--reports M]: a laboratory of another size, in a file of its own.
    TenYearSize size;
    const bool sized = args.contains("--patients");
    if (sized) {
        size.patients = args.value(args.indexOf("--patients") + 1).toInt();
        if (args.contains("--reports")) size.reports = args.value(args.indexOf("--reports") + 1).toInt();
    }
    const QString db =
        args.contains("--db") ? args.value(args.indexOf("--db") + 1)
        : sized
            ? QStringLiteral("/tmp/tavora-%1-patients-%2-reports.mdb").arg(size.patients).arg(size.reports)
            : QStringLiteral("/tmp/tavora-ten-year.mdb");
    QElapsedTimer made;
    made.start();
    if (const QString failure = make_ten_year_database(db, size); !failure.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failure));
        return {};
    }
    if (made.elapsed() > 1000) std::printf("made the ten-year database in %.0f s\n", made.elapsed() / 1000.0);
    return db;
}

QString ten_year_server(const QStringList& args, const QString& file) {
    const int at = int(args.indexOf(QStringLiteral("--server")));
    if (at < 0) return {};
    const QString server = args.value(at + 1);
    const QString url = server + QStringLiteral(" dbname=tavora_ten_year");
    // A statement on a server connection of its own, what it says ignored.
    auto run = [](const QString& on, const QString& sql) {
        with_server_connection(on, false, [&](QSqlDatabase& db) {
            QSqlQuery(db).exec(sql);
            return QString();
        });
    };
    if (with_server_connection(url, true, [](QSqlDatabase&) { return QString(); }).isEmpty()) return url;
    // Moved by an earlier version of the program: brought up to date.
    if (const Upgrade u = upgrade_server_database(url); u.error.isEmpty()) {
        std::printf("the ten-year database on the server: %s\n", qPrintable(u.done));
        return url;
    }
    run(server + QStringLiteral(" dbname=postgres"), QStringLiteral("CREATE DATABASE tavora_ten_year"));
    std::printf("moving the ten-year database to the server (once)...\n");
    std::fflush(stdout);
    QElapsedTimer t;
    t.start();
    if (const QString e = create_server_database(url); !e.isEmpty()) {
        std::fprintf(stderr, "cannot make the server database: %s\n", qPrintable(e));
        return {};
    }
    const Migration m = migrate_to_server(file, url);
    if (!m.error.isEmpty()) {
        std::fprintf(stderr, "cannot move the ten-year database: %s\n", qPrintable(m.error));
        return {};
    }
    qint64 rows = 0;
    for (const TableCopy& c : m.tables)
        rows += c.rows;
    std::printf("  migrate: %lld rows in %.1f s\n", rows, t.elapsed() / 1000.0);
    run(url, QStringLiteral("ANALYZE"));
    return url;
}

bool use_ten_year_program_folder(const QStringList& args, const QString& folder) {
    const QString db = ten_year_database(args);
    if (db.isEmpty()) return false;
    if (args.contains(QStringLiteral("--server"))) {
        const QString url = ten_year_server(args, db);
        if (url.isEmpty()) return false;
        QFile ini(QDir(folder).filePath(QString::fromLatin1(kSettingsFileName)));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[database]\nurl=\"%1\"\n").arg(url).toUtf8());
    } else {
        QFile::link(QFileInfo(db).absoluteFilePath(),
                    QDir(folder).filePath(QStringLiteral("tavora lab.mdb")));
    }
    // The benchmarks are built into bench/, one below the program folder.
    const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    for (const QString& f : QDir(built).entryList(
             {QStringLiteral("*.rpt"), QStringLiteral("letterhead*"), QStringLiteral("*.tsv")}))
        QFile::copy(built + u'/' + f, QDir(folder).filePath(f));
    set_program_folder(folder);
    set_message_handler([](const ShownMessage&) { return MessageAnswer::Ok; });
    // A result the benchmark types may be critical: its call is "not yet".
    set_critical_call_handler([](const CallQuestion&) { return std::optional<CallAnswer>(); });
    open_connection();
    return true;
}

QString make_ten_year_database(const QString& path, TenYearSize size) {
    // A file made by an earlier version of the program is brought up to
    // date; one that cannot be (or of an unknown schema) is made again, so
    // that no figure is measured on a file the program would refuse.
    if (QFile::exists(path)) {
        const int version = schema_version_of(path);
        if (version == kSchemaVersion) return {};
        if (version > 0 && version < kSchemaVersion && upgrade_database(path).error.isEmpty()) {
            std::printf("brought the ten-year database from schema %d to %d\n", version, kSchemaVersion);
            return {};
        }
        std::printf("the ten-year database %s is of schema %d, not %d: making it again\n", qPrintable(path),
                    version, kSchemaVersion);
        if (!QFile::remove(path)) return "cannot remove the stale " + path;
    }
    const QString building = path + ".building";
    QFile::remove(building);
    if (QString failure = create_database(building); !failure.isEmpty()) return failure;

    sqlite3* db = nullptr;
    if (sqlite3_open(building.toUtf8().constData(), &db) != SQLITE_OK) return "cannot open " + building;
    run(db, "PRAGMA synchronous = OFF");
    run(db, "PRAGMA cache_size = -200000");
    run(db, "BEGIN");
    QRandomGenerator random(20261209);
    const QDate first = QDate(2016, 12, 9);

    sqlite3_stmt* patient = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO registration VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
                       &patient, nullptr);
    for (int id = 1; id <= size.patients; ++id) {
        sqlite3_bind_int64(patient, 1, id);
        bind_text(patient, 2,
                  QString("%1 %2 %3").arg(kFirst[id % 10], kLast[(id / 10) % 8]).arg(id).toUtf8());
        bind_text(patient, 3, QByteArray::number(1 + id % 89));
        bind_text(patient, 4, id % 2 ? "M" : "F");
        bind_text(patient, 5, "040-" + QByteArray::number(2000000 + id));
        bind_text(patient, 6, QByteArray::number(9800000000LL + id));
        bind_text(patient, 7, "_");
        bind_text(patient, 8, "-");
        bind_text(patient, 9, "-");
        bind_text(patient, 10, "12 Hill Road, Ward " + QByteArray::number(id % 40));
        bind_text(patient, 11, first.addDays(id * 3650LL / size.patients).toString(Qt::ISODate).toUtf8());
        bind_text(patient, 12, "-");
        sqlite3_step(patient);
        sqlite3_reset(patient);
    }
    sqlite3_finalize(patient);

    sqlite3_stmt* report = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO test_main VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &report, nullptr);
    QList<const TestDefinition*> weighted;
    for (const Share& s : kShares)
        for (int i = 0; i < s.per_400; ++i)
            weighted << test_for_screen(s.screen);
    QHash<const TestDefinition*, sqlite3_stmt*> result_rows;
    for (const TestDefinition* t : test_catalogue()) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(
            db, QString("INSERT INTO %1 VALUES (?, ?, ?)").arg(t->investigation->table).toUtf8().constData(),
            -1, &s, nullptr);
        result_rows.insert(t, s);
    }
    for (int lab = 1; lab <= size.reports; ++lab) {
        const TestDefinition* t = weighted[lab % weighted.size()];
        sqlite3_bind_int64(report, 1, lab);
        sqlite3_bind_int64(report, 2,
                           1 + (lab * 1LL * size.patients / size.reports + lab % 7) % size.patients);
        bind_text(report, 3, kDoctors[lab % 5]);
        bind_text(report, 4, first.addDays(lab * 3650LL / size.reports).toString(Qt::ISODate).toUtf8());
        bind_text(report, 5, QByteArray(t->investigation->test));
        bind_text(report, 6, lab % 5 ? "" : "Fasting sample; repeat advised.");
        bind_text(report, 7, lab % 9 ? "N" : "Y");
        sqlite3_step(report);
        sqlite3_reset(report);
        sqlite3_stmt* rows = result_rows.value(t);
        for (int i = 0; i < t->box_count; ++i) {
            if (!t->store_every_box && random.bounded(100) >= 95) continue;
            sqlite3_bind_int64(rows, 1, lab);
            bind_text(rows, 2, QByteArray(t->items[i].caption));
            const QByteArray value = t->multi_line_boxes
                                         ? QByteArray(t->items[i].initial_text)
                                         : QByteArray::number(random.bounded(200)) + t->items[i].initial_text;
            bind_text(rows, 3, value);
            sqlite3_step(rows);
            sqlite3_reset(rows);
        }
    }
    sqlite3_finalize(report);
    for (sqlite3_stmt* s : result_rows)
        sqlite3_finalize(s);
    const bool ok = run(db, "COMMIT");
    sqlite3_close(db);
    if (!ok) return "building the database failed";
    return QFile::rename(building, path) ? QString() : "cannot rename " + building;
}
