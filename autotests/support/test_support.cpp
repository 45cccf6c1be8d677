#include "test_support.h"

#include "records.h"
#include "schema_setup.h"
#include "screen_registry.h"
#include "tavora_module.h"

#include <QAccessible>
#include <QMap>
#include <QProcess>
#include <QUuid>

ProgramFolder::ProgramFolder(bool with_database) {
    if (with_database) {
        const QString failure = create_database(database_path());
        if (!failure.isEmpty()) qFatal("cannot create the test database: %s", qPrintable(failure));
    }
    close_connection();
    set_program_folder(dir_.path());
}

ProgramFolder::~ProgramFolder() {
    close_connection();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kConnectionName));
    for (const QString& name : extra_connections_) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    // Another folder may have taken over already (a test swapping folders).
    if (program_folder() == dir_.path()) set_program_folder(QString());
}

QString ProgramFolder::database_path() const {
    return dir_.path() + QStringLiteral("/tavora lab.mdb");
}

QSqlDatabase ProgramFolder::other_workstation() {
    const QString name = QStringLiteral("other-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    extra_connections_ << name;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(database_path());
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
    if (!db.open()) qFatal("cannot open a second connection");
    return db;
}

MessageRecorder::MessageRecorder() {
    previous_ = set_message_handler([this](const ShownMessage& m) {
        shown << m;
        if (!answers_.isEmpty()) return answers_.dequeue();
        switch (m.buttons) {
        case MessageButtons::YesNo:
            return MessageAnswer::Yes;
        default:
            return MessageAnswer::Ok;
        }
    });
}

MessageRecorder::~MessageRecorder() {
    set_message_handler(previous_);
}

QStringList MessageRecorder::texts() const {
    QStringList t;
    for (const ShownMessage& m : shown)
        t << m.text;
    return t;
}

Run run_program(const QString& program, const QStringList& args, const QByteArray& input) {
    QProcess p;
    p.start(program, args);
    if (!input.isNull()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QString pdf_to_text(const QString& pdf, int page, bool layout) {
    QStringList args;
    if (layout) args << QStringLiteral("-layout");
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    return run_program(QStringLiteral("pdftotext"), args << pdf << QStringLiteral("-")).out;
}

void record_report_runs(RecordingEngine::OnRun on_run) {
    if (!on_run) {
        set_report_engine_factory(nullptr);
        return;
    }
    set_report_engine_factory([on_run] { return std::make_unique<RecordingEngine>(on_run); });
}

void close_screens() {
    screens::end_program();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

void show_active(QWidget* w) {
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w)) qWarning("window did not become active");
}

void PrintLog::record() {
    record_report_runs([this](const ReportRequest& request) {
        entries.append({request, seen ? seen() : QStringList()});
        if (while_printing) while_printing();
        return failure;
    });
}

int number_of(const QString& sql, const QVariantList& binds) {
    return select_first(sql, binds).value->value(0).toInt();
}

namespace {

void walk(QAccessibleInterface* node, int depth, QStringList& out) {
    if (!node || depth > 12) return;
    const QAccessible::State state = node->state();
    if (state.invisible) return;
    static const QMap<QAccessible::Role, QString> named{
        {QAccessible::Button, "button"},         {QAccessible::PushButton, "button"},
        {QAccessible::EditableText, "text box"}, {QAccessible::StaticText, "text"},
        {QAccessible::ComboBox, "combo box"},    {QAccessible::Table, "table"}};
    if (named.contains(node->role()))
        out << QString(depth * 2, ' ') + named.value(node->role()) + ": " + node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        walk(node->child(i), depth + 1, out);
}

} // namespace

QStringList accessible_tree(QWidget* window) {
    QStringList out;
    walk(QAccessible::queryAccessibleInterface(window), 0, out);
    return out;
}
