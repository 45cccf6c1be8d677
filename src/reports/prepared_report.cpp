// The only file that includes mustache: it compiles slowly.
#include "prepared_report.h"

#include "dates.h"
#include "records.h"
#include "selection_formula.h"
#include "tavora_module.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <kainjow/mustache.hpp>

namespace mu = kainjow::mustache;

namespace {

std::string s(const QString& q) {
    return q.toStdString();
}

ResultFlagger& flagger() {
    static ResultFlagger f;
    return f;
}

// Rows that name their test table, item and result get their flag.
void add_flags(Table& r) {
    const qsizetype table = r.columns.indexOf(QLatin1String("test_table")),
                    item = r.columns.indexOf(QLatin1String("item")),
                    result = r.columns.indexOf(QLatin1String("result")),
                    sex = r.columns.indexOf(QLatin1String("sex"));
    if (!flagger() || table < 0 || item < 0 || result < 0 || r.columns.contains(QLatin1String("flag")))
        return;
    r.columns << QStringLiteral("flag");
    for (QStringList& row : r.rows)
        row << flagger()(row.value(table), row.value(item), row.value(result),
                         sex < 0 ? QString() : row.value(sex));
}

bool& reading_through_shared() {
    static bool on = false;
    return on;
}

// The report's own read-only connection, closed and removed when it goes; or,
// while a build reads its own uncommitted rows back, the shared connection
// made read-only for as long as the report reads.
class ReportConnection {
public:
    explicit ReportConnection(const QString& path) {
        if (reading_through_shared()) {
            auto shared = database();
            if (!shared.ok()) {
                error_ = shared.error.description;
                return;
            }
            shared_ = shared.value;
            QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 1"));
            allow_only_reading(shared_, true);
            return;
        }
        static int serial = 0;
        name_ = QStringLiteral("report_connection_%1").arg(++serial);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        error_ = open_database_file(db, path, true);
        if (error_.isEmpty()) allow_only_reading(db, true);
    }
    ~ReportConnection() {
        if (shared_.isValid()) {
            allow_only_reading(shared_, false);
            QSqlQuery(shared_).exec(QStringLiteral("PRAGMA query_only = 0"));
            return;
        }
        if (name_.isEmpty()) return;
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase db() const { return shared_.isValid() ? shared_ : QSqlDatabase::database(name_, false); }
    const QString& error() const { return error_; }

private:
    QSqlDatabase shared_;
    QString name_;
    QString error_;
};

bool field_exists(const QSqlDatabase& db, const QString& table, const QString& field) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) return false;
    while (q.next())
        if (q.value(1).toString().compare(field, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// Mustache counts an empty text as true: has_x says whether x holds anything.
mu::data row_object(const QStringList& columns, const QStringList& row) {
    mu::data o{mu::data::type::object};
    for (int i = 0; i < columns.size(); ++i) {
        o.set(s(columns[i]), s(row.value(i)));
        o.set("has_" + s(columns[i]), !row.value(i).trimmed().isEmpty());
    }
    return o;
}

mu::data rows_list(const QStringList& columns, const QList<QStringList>& rows) {
    mu::data list{mu::data::type::list};
    for (const QStringList& row : rows)
        list.push_back(row_object(columns, row));
    return list;
}

// Consecutive rows that agree on the grouping columns become one entry with
// those columns and the rows themselves under `children`.
mu::data grouped(const ReportQuery& q, const Table& r) {
    QList<int> keys;
    for (const QString& g : q.group_by)
        keys << int(r.columns.indexOf(g));
    mu::data list{mu::data::type::list};
    QStringList current_key;
    QList<QStringList> members;
    auto flush = [&] {
        if (members.isEmpty()) return;
        mu::data entry = row_object(r.columns, members.first());
        entry.set(s(q.children), rows_list(r.columns, members));
        list.push_back(entry);
        members.clear();
    };
    for (const QStringList& row : r.rows) {
        QStringList key;
        for (int k : keys)
            key << row.value(k);
        if (key != current_key) flush();
        current_key = key;
        members << row;
    }
    flush();
    return list;
}

QString render(const QString& tmpl, const mu::data& data, const QString& band, const QString& path,
               QString& error) {
    if (tmpl.trimmed().isEmpty()) return {};
    // Sections nest only so deep: the template engine recurses per level.
    int depth = 0, deepest = 0;
    // A tag is read as the template engine reads it: blanks after "{{" do
    // not count. Other delimiters would hide the sections from this count,
    // and a report file has no need of them: they are refused.
    for (qsizetype i = tmpl.indexOf(QLatin1String("{{")); i >= 0;
         i = tmpl.indexOf(QLatin1String("{{"), i + 2)) {
        qsizetype at = i + 2;
        while (at < tmpl.size() && tmpl[at].isSpace())
            ++at;
        const QChar tag = at < tmpl.size() ? tmpl[at] : QChar();
        if (tag == u'=') {
            error =
                QStringLiteral("The report file %1 changes the tag delimiters in its %2; report files keep "
                               "{{ and }}.")
                    .arg(readable_path(path), band);
            return {};
        }
        if (tag == u'#' || tag == u'^') deepest = std::max(deepest, ++depth);
        if (tag == u'/') --depth;
    }
    if (deepest > kMaxTemplateDepth) {
        error = QStringLiteral("The report file %1 nests sections in its %2 deeper than %3 levels.")
                    .arg(readable_path(path), band)
                    .arg(kMaxTemplateDepth);
        return {};
    }
    mu::mustache m{s(tmpl)};
    const std::string out = m.is_valid() ? m.render(data) : std::string();
    if (!m.is_valid()) {
        error = QStringLiteral("The report file %1 has a fault in its %2: %3")
                    .arg(readable_path(path), band, QString::fromStdString(m.error_message()));
        return {};
    }
    return QString::fromStdString(out);
}

} // namespace

QString PreparedReport::footer_html(int page, int pages) const {
    QString html = footer_template;
    html.replace(QLatin1String("{{page}}"), QString::number(page));
    html.replace(QLatin1String("{{pages}}"), QString::number(pages));
    return html;
}

Prepared prepare_report(const ReportRequest& request, const QString& database_path) {
    const QString path = resolve_report_path(request.file_path);
    if (path.isEmpty())
        return {std::nullopt,
                QStringLiteral("The report file %1 cannot be found.").arg(readable_path(request.file_path))};
    ParsedReportFile parsed = read_report_file(path);
    if (!parsed.file) return {std::nullopt, parsed.error};
    PreparedReport out{*parsed.file, {}, {}, {}, {}};
    const ReportFile& file = out.file;

    // The formula, checked against the schema and the report's queries.
    std::optional<Selection> selection;
    if (request.selection_formula) {
        ParsedSelection f = parse_selection_formula(*request.selection_formula);
        if (!f.selection)
            return {std::nullopt,
                    QStringLiteral("The report %1 cannot print: %2.").arg(readable_path(path), f.error)};
        selection = f.selection;
        bool has_place = false;
        for (const ReportQuery& q : file.queries)
            has_place |= q.sql.contains(QLatin1String("{selection}"));
        if (!has_place)
            return {std::nullopt, QStringLiteral("The report %1 has no place for the selection formula %2.")
                                      .arg(readable_path(path), *request.selection_formula)};
    } else {
        // A report that selects one record prints nothing sensible without
        // saying which: never every record at once.
        for (const ReportQuery& q : file.queries)
            if (q.sql.contains(QLatin1String("{selection}")))
                return {
                    std::nullopt,
                    QStringLiteral("The report %1 prints one record and needs a selection formula, such as "
                                   "{test_main.lab_ID} = 12.")
                        .arg(readable_path(path))};
    }

    mu::data data{mu::data::type::object};
    data.set("title", s(file.title));
    data.set("printed_on", s(display_date(today())));
    // Page numbers are known only when the pages are laid out: keep their tags.
    data.set("page", "{{page}}");
    data.set("pages", "{{pages}}");
    QHash<QString, QString> top; // fields of the single-row queries, for the file name

    if (!file.queries.isEmpty()) {
        ReportConnection conn(database_path);
        if (!conn.error().isEmpty()) return {std::nullopt, cannot_open_message(database_path, conn.error())};
        if (selection) {
            const QString table = known_table(selection->table);
            if (table.isEmpty() || !field_exists(conn.db(), table, selection->field))
                return {std::nullopt,
                        QStringLiteral("The report %1 cannot print: the formula names %2.%3, which is not "
                                       "a field of the database.")
                            .arg(readable_path(path), selection->table, selection->field)};
            selection->table = table;
        }
        for (const ReportQuery& q : file.queries) {
            QString sql = q.sql;
            const int places = int(sql.count(QLatin1String("{selection}")));
            sql.replace(QLatin1String("{selection}"),
                        selection ? QStringLiteral("%1.%2 = ?").arg(selection->table, selection->field)
                                  : QStringLiteral("1"));
            QSqlQuery query(conn.db());
            query.setForwardOnly(true);
            bool ok = query.prepare(sql);
            // The laboratory edits its report files: their queries may only read.
            if (ok && !statement_only_reads(query))
                return {
                    std::nullopt,
                    QStringLiteral("The report file %1 has a query \"%2\" (line %3) that would change the "
                                   "database or create a file; report queries may only read.")
                        .arg(readable_path(path), q.name)
                        .arg(q.line)};
            for (int i = 0; ok && selection && i < places; ++i)
                query.addBindValue(selection->value);
            ok = ok && query.exec();
            if (!ok)
                return {std::nullopt,
                        QStringLiteral("The report file %1 has a fault in its query \"%2\" (line %3): %4")
                            .arg(readable_path(path), q.name)
                            .arg(q.line)
                            .arg(query.lastError().databaseText())};
            Table r;
            const QSqlRecord rec = query.record();
            for (int i = 0; i < rec.count(); ++i)
                r.columns << rec.fieldName(i);
            while (query.next()) {
                QStringList row;
                for (int i = 0; i < r.columns.size(); ++i) {
                    const QString text = value_text(query.value(i));
                    row << (is_date_column(r.columns[i]) ? display_date(text) : text);
                }
                r.rows << row;
            }
            query.finish();
            add_flags(r);
            data.set(s(q.name), q.group_by.isEmpty() ? rows_list(r.columns, r.rows) : grouped(q, r));
            if (q.single) {
                const QStringList first = r.rows.value(0);
                for (int i = 0; i < r.columns.size(); ++i) {
                    data.set(s(r.columns[i]), s(first.value(i)));
                    // Mustache counts an empty text as true: has_x says whether x holds anything.
                    data.set("has_" + s(r.columns[i]), !first.value(i).trimmed().isEmpty());
                    top.insert(r.columns[i], first.value(i));
                }
            }
        }
    }

    QString error;
    out.header_html = render(file.header, data, QStringLiteral("header"), path, error);
    if (error.isEmpty()) out.body_html = render(file.body, data, QStringLiteral("body"), path, error);
    if (error.isEmpty())
        out.footer_template = render(file.footer, data, QStringLiteral("footer"), path, error);
    if (!error.isEmpty()) return {std::nullopt, error};

    QStringList name_parts;
    for (const char* key : {"lab_id", "patient_name", "test", "t_date"})
        if (!top.value(QLatin1String(key)).trimmed().isEmpty())
            name_parts << top.value(QLatin1String(key)).trimmed();
    if (name_parts.isEmpty()) name_parts << QFileInfo(path).completeBaseName();
    QString name = name_parts.join(u' ');
    for (QChar& c : name)
        if (QStringLiteral("\\/:*?\"<>|").contains(c)) c = u'-';
    out.suggested_name = name + QStringLiteral(".pdf");
    return {out, {}};
}

ReportsReadSharedConnection::ReportsReadSharedConnection() {
    reading_through_shared() = true;
}

ReportsReadSharedConnection::~ReportsReadSharedConnection() {
    reading_through_shared() = false;
}

void set_result_flagger(ResultFlagger f) {
    flagger() = std::move(f);
}
