#pragma once

#include "accounts.h"
#include "message_box.h"
#include "report_engine.h"

#include <QApplication>
#include <QList>
#include <QQueue>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

// Someone who may do everything, for tests that are not about rights.
inline const Actor kStaff{QStringLiteral("staff"), Role::Administrator};

// Runs a Qt Test class offscreen with a real QApplication.
#define TAVORA_TEST_MAIN(TestClass)                                                                          \
    int main(int argc, char** argv) {                                                                        \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                             \
        QApplication app(argc, argv);                                                                        \
        app.setQuitOnLastWindowClosed(false);                                                                \
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

// Answers the message boxes in place of a person and keeps what they said.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();

    // The answer to the next box that asks a question (default: its first button).
    void answer(MessageAnswer a) { answers_.enqueue(a); }
    QList<ShownMessage> shown;
    QStringList texts() const;
    void clear() { shown.clear(); }

private:
    QQueue<MessageAnswer> answers_;
    MessageHandler previous_;
};

// Records report runs in place of the print preview: `on_run` gets each
// request while the report would be reading its data (so a test can look at
// the database then), and its answer is the run's failure (empty: printed).
class RecordingEngine : public ReportEngine {
public:
    using OnRun = std::function<QString(const ReportRequest&)>;
    explicit RecordingEngine(OnRun on_run) : on_run_(std::move(on_run)) {}
    QString run() override { return on_run_({file_name(), selection()}); }

private:
    OnRun on_run_;
};

// Every report engine made from now on records through `on_run`; an empty
// one restores the print preview.
void record_report_runs(RecordingEngine::OnRun on_run);

// Records each print in place of the preview. While a report would read its
// data, `seen` runs and what it returns is kept beside the request (the rows
// of temp then, whether the doctor was stored by then); `failure` is what the
// prints answer.
struct PrintLog {
    struct Entry {
        ReportRequest request;
        QStringList seen;
    };
    QList<Entry> entries;
    QString failure;
    std::function<QStringList()> seen;
    std::function<void()> while_printing;

    // Every engine made from now on records into this log (which must outlive them).
    void record();
    void clear() { entries.clear(), failure.clear(), seen = {}, while_printing = {}; }
};

// The number a query such as "select count(*) ..." answers.
int number_of(const QString& sql, const QVariantList& binds = {});

// Ends the program as the exit icon does and lets the closed screens go, so
// the next test opens them afresh.
void close_screens();

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

// What a screen reader finds in a window: one line per accessible object
// that can be seen, indented by depth, "role: name". Buttons, boxes and
// texts only, in the order the accessibility tree holds them.
QStringList accessible_tree(QWidget* window);

// Lets posted events (synthetic keystrokes) run.
void settle();

// Shows a top-level widget, makes it active and waits for that.
void show_active(QWidget* w);
