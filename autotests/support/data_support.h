#pragma once

#include "accounts.h"
#include "db_error.h"

#include <QCoreApplication>
#include <QList>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

// What the suites need below the screens: a program folder with a real
// database, the server under test, a count, a program run to its end. A
// suite that needs no widgets takes this alone and runs without a GUI.

// Someone who may do everything, for tests that are not about rights.
inline const Actor kStaff{QStringLiteral("staff"), Role::Administrator};

// Runs a Qt Test class that needs no widgets, with a core application only.
#define TAVORA_DATA_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv) {                                                                        \
        QCoreApplication app(argc, argv);                                                                    \
        TestClass tc;                                                                                        \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

// Whether this run of a suite works against the PostgreSQL server the test
// run started (TAVORA_TEST_SERVER: its connection keywords) instead of a file.
bool testing_on_server();

// Takes the database's write lock on `db` (another workstation's
// connection) without waiting, in a transaction left open (ROLLBACK ends it);
// the error when someone else holds it.
DbError take_write_lock_at_once(const QSqlDatabase& db);

// Writes "evil.rpt" into `folder`: a report file of one query, `sql`, whose
// body repeats over its rows. Returns its path.
QString one_query_report(const QString& folder, const QString& sql);

// SQL for one value of a journal row's old_values, in the dialect of the
// database under test.
QString journal_value(const char* key);

// The URL of a new, empty database on the test server (no schema).
QString empty_server_database();

// A temporary program folder holding a fresh database made from the real
// schema: a file, or, on the server, a database of its own named by the
// folder's tavora-lab.ini. The program's folder points at it while the object lives.
class ProgramFolder {
public:
    explicit ProgramFolder(bool with_database = true);
    ~ProgramFolder();

    QString path() const { return dir_.path(); }
    QString database_path() const;
    // The server database's URL (empty on a file).
    QString server_url() const { return server_url_; }
    // A second connection to the same database, as another workstation would have.
    QSqlDatabase other_workstation();
    // On the server: its database stops taking connections and those it had
    // are cut (as when the server stops), or takes them again.
    void server_stopped(bool stopped);

private:
    QTemporaryDir dir_;
    QStringList extra_connections_;
    QString server_db_, server_url_;
};

// The number a query such as "select count(*) ..." answers.
int number_of(const QString& sql, const QVariantList& binds = {});

// A program run to its end: its exit code (-1 when it crashed) and what it printed.
struct Run {
    int exit_code = -1;
    QString out, err;
};
// `input`, when given, is what the program reads on its standard input.
Run run_program(const QString& program, const QStringList& args, const QByteArray& input = {});
#ifdef ADMIN_TOOL
inline Run admin(const QStringList& args, const QByteArray& input = {}) {
    return run_program(QStringLiteral(ADMIN_TOOL), args, input);
}
#endif

// The text of a PDF (one page, or all with 0), laid out as printed when `layout` is set.
QString pdf_to_text(const QString& pdf, int page = 0, bool layout = false);
