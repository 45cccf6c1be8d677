#include "sqlite_database.h"

#include "backup.h"
#include "connection.h"
#include "database_copy.h"
#include "records.h"
#include "schema.h"
#include "schema_setup.h"
#include "typed_text.h"

#include <QFileInfo>
#include <QSqlQuery>

namespace {

class SqliteDatabase final : public Database {
public:
    explicit SqliteDatabase(QString path) : path_(std::move(path)) {}

    QString location() const override { return path_; }
    QString driver() const override { return QStringLiteral("QSQLITE"); }
    bool exists() const override { return QFileInfo::exists(path_); }

    QString open(QSqlDatabase& db, bool read_only, int* code) const override {
        return open_database_file(db, path_, read_only, code);
    }
    QString cannot_open(const QString& reason) const override { return cannot_open_message(path_, reason); }
    DbError open_failed(int code, const QString& reason) const override {
        DbError e = DbError::from_code(code, cannot_open(reason));
        // Held by another workstation past the busy timeout: there, but busy.
        if (e.kind != DbError::Kind::Busy && e.kind != DbError::Kind::Damaged) {
            e.kind = DbError::Kind::Unavailable;
            e.code = 0;
        }
        return e;
    }

    QString create() const override { return create_database(path_); }
    Upgrade upgrade() const override { return upgrade_database(path_); }

    BackupMade back_up(const QString& folder) const override {
        if (!exists()) return {{}, QStringLiteral("the database file %1 does not exist").arg(path_)};
        const BackupResult r = back_up_database(folder, path_);
        if (r.outcome != BackupResult::Outcome::Done)
            return {{}, backup_message(r) + QStringLiteral(" (") + r.detail + u')'};
        return {r.file, {}};
    }

    Restored restore(const QString& backup, bool force) const override {
        Restored r;
        const bool existed = exists();
        r.error = restore_database(backup, path_, force, &r.overridden);
        if (r.error.isEmpty() && existed) r.kept = path_ + QStringLiteral(".before-restore");
        return r;
    }

    Checked check() const override {
        const FileCheck checked = check_by_copy(path_);
        Checked c{checked.problems, {}, checked.damaged, {}};
        if (!c.problems.isEmpty()) {
            c.verdict = QStringLiteral("is damaged or unusable");
            // Every workstation refuses a damaged file from now on, until it
            // is restored or checked clean.
            if (c.damaged) write_damage_marker(path_, c.problems);
        } else if (damage_marked(path_)) {
            remove_damage_marker(path_);
            c.remark = QStringLiteral("it was marked damaged; the mark is removed");
        }
        return c;
    }

    DbError classify(const QSqlError& error) const override { return DbError::from(error, false); }
    QStringList statements(const QString& sql) const override { return sql_statements(sql); }

    QStringList begin_write() const override { return {QStringLiteral("BEGIN IMMEDIATE")}; }
    QString journal_field(const QString& key) const override {
        return QStringLiteral("json_extract(old_values, '$.%1')").arg(key);
    }
    QString journal_patient_condition() const override {
        return journal_field(QStringLiteral("patient_id")) + QStringLiteral(" = ?");
    }
    QString in_subquery(const QString& column, const QString& subquery) const override {
        return QStringLiteral("%1 IN (%2)").arg(column, subquery);
    }

    SqlPart patients_holding(const QString& text, int limit) const override {
        // The trigram index finds any part of three characters or more; it
        // stops at the most recent patients (its rowid is the patient's
        // number negated: newest first, read forwards).
        QString phrase = text;
        return {QStringLiteral("SELECT -rowid FROM registration_search WHERE registration_search MATCH ? "
                               "ORDER BY rowid LIMIT %1")
                    .arg(limit),
                {u'"' + phrase.replace(u'"', QLatin1String("\"\"")) + u'"'}};
    }

    SqlPart any_column_holds(const QStringList& columns, const QString& text) const override {
        SqlPart part;
        QStringList any;
        for (const QString& column : columns) {
            any << QStringLiteral("%1 LIKE ? ESCAPE '\\'").arg(column);
            part.binds << u'%' + like_literal(text) + u'%';
        }
        part.sql = any.join(QLatin1String(" OR "));
        return part;
    }

    DbError let_reports_read_scratch(const QStringList&) const override { return {}; }

    bool begin_reading(QSqlDatabase& db, bool shared, int max_milliseconds) const override {
        if (shared) QSqlQuery(db).exec(QStringLiteral("PRAGMA query_only = 1"));
        allow_only_reading(db, true);
        limit_statement_time(db, max_milliseconds);
        return false;
    }

    void end_reading(QSqlDatabase& db, bool shared, bool) const override {
        limit_statement_time(db, 0);
        allow_only_reading(db, false);
        if (shared) QSqlQuery(db).exec(QStringLiteral("PRAGMA query_only = 0"));
    }

    bool has_column(const QSqlDatabase& db, const QString& table, const QString& column) const override {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) return false;
        while (q.next())
            if (q.value(1).toString().compare(column, Qt::CaseInsensitive) == 0) return true;
        return false;
    }

    QStringList prelude() const override { return {}; }

    QString column_type(ColumnKind kind) const override {
        switch (kind) {
        case ColumnKind::Id:
        case ColumnKind::Key:
            return QStringLiteral("INTEGER PRIMARY KEY"); // the rowid itself
        case ColumnKind::Number:
            return QStringLiteral("INTEGER NOT NULL");
        case ColumnKind::Words:
        case ColumnKind::Date:
            return QStringLiteral("TEXT COLLATE NOCASE NOT NULL");
        case ColumnKind::Text:
            return QStringLiteral("TEXT NOT NULL");
        case ColumnKind::Bytes:
            return QStringLiteral("BLOB NOT NULL");
        }
        return {};
    }

    QString create_table(const QString& table, const QStringList& columns, bool) const override {
        // Every table has its rowid; STRICT: a value of the wrong type is refused.
        return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (\n    %2\n) STRICT")
            .arg(table, columns.join(QStringLiteral(",\n    ")));
    }

    QString add_column(const QString& table, const QString& column) const override {
        return QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(table, column);
    }

    QString index_columns(const IndexDef& index) const override { return QLatin1String(index.columns); }

    QStringList search_statements(const TextSearch& s) const override {
        // FTS5's trigram index, without a copy of the texts, kept in step by
        // triggers. Its rowid is the patient's number negated, so that reading
        // it forwards gives the newest patients first: FTS5 reads an index
        // backwards by loading each term's whole list, twice as slow at a
        // million patients.
        const QString name = QLatin1String(s.name), table = QLatin1String(s.table),
                      key = QLatin1String(s.key);
        const QString columns = s.columns.join(QStringLiteral(", "));
        const auto values = [&](const char* row) {
            QStringList v = {QStringLiteral("-%1.%2").arg(QLatin1String(row), key)};
            for (const QString& c : s.columns)
                v << QLatin1String(row) + u'.' + c;
            return v.join(QStringLiteral(", "));
        };
        const QString remove = QStringLiteral("INSERT INTO %1 (%1, rowid, %2) VALUES ('delete', %3);")
                                   .arg(name, columns, values("old"));
        const QString add =
            QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3);").arg(name, columns, values("new"));
        QStringList key_and_columns = {u'-' + key};
        key_and_columns << s.columns;
        return {
            QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS %1 USING fts5(%2, content = '', tokenize = "
                           "'trigram')")
                .arg(name, columns),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_insert AFTER INSERT ON %2 BEGIN %3 END")
                .arg(name, table, add),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_delete AFTER DELETE ON %2 BEGIN %3 END")
                .arg(name, table, remove),
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_update AFTER UPDATE ON %2 BEGIN %3 %4 END")
                .arg(name, table, remove, add),
            QStringLiteral("INSERT INTO %1 (rowid, %2) SELECT %3 FROM %4")
                .arg(name, columns, key_and_columns.join(QStringLiteral(", ")), table),
        };
    }

    QStringList rebuild_search(const TextSearch& s) const override {
        const QString name = QLatin1String(s.name);
        QStringList out;
        for (const char* trigger : {"_insert", "_delete", "_update"})
            out << QStringLiteral("DROP TRIGGER IF EXISTS %1%2").arg(name, QLatin1String(trigger));
        out << QStringLiteral("DROP TABLE IF EXISTS %1").arg(name);
        return out << search_statements(s);
    }

    QString own_upgrade(const SchemaStep& step) const override { return QString::fromLatin1(step.file); }
    QString now_text() const override { return QStringLiteral("datetime('now')"); }

    QStringList stamp(int version, bool) const override {
        // The file's header says whose it is and which version of the schema it holds.
        return {QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId),
                QStringLiteral("PRAGMA user_version = %1").arg(version)};
    }

private:
    QString path_;
};

} // namespace

std::unique_ptr<Database> file_database(const QString& path) {
    return std::make_unique<SqliteDatabase>(path);
}
