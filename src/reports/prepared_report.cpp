// The only file that includes mustache: it compiles slowly.
#include "prepared_report.h"

#include "dates.h"
#include "report_chart.h"
#include "selection_formula.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <kainjow/mustache.hpp>

namespace mu = kainjow::mustache;

namespace {

std::string s(const QString& q) {
    return q.toStdString();
}

bool& reading_through_shared() {
    static bool on = false;
    return on;
}

// The columns whose has_x the report's templates ask for: only those are made
// for every row (a long report has thousands of rows).
QSet<QString> has_names_used(const ReportFile& file) {
    QSet<QString> used;
    static const QRegularExpression has(QStringLiteral("has_(\\w+)"));
    for (const QString* band : {&file.header, &file.body, &file.footer})
        for (auto m = has.globalMatch(*band); m.hasNext();)
            used << m.next().captured(1);
    return used;
}

// Mustache counts an empty text as true: has_x says whether x holds anything.
mu::data row_object(const QStringList& columns, const QStringList& row, const QSet<QString>& has_used) {
    mu::data o{mu::data::type::object};
    for (int i = 0; i < columns.size(); ++i) {
        o.set(s(columns[i]), s(row.value(i)));
        if (has_used.contains(columns[i])) o.set("has_" + s(columns[i]), !row.value(i).trimmed().isEmpty());
    }
    return o;
}

mu::data rows_list(const QStringList& columns, const QList<QStringList>& rows,
                   const QSet<QString>& has_used) {
    mu::data list{mu::data::type::list};
    for (const QStringList& row : rows)
        list.push_back(row_object(columns, row, has_used));
    return list;
}

// Consecutive rows that agree on the grouping columns become one entry with
// those columns and the rows themselves under `children`.
mu::data grouped(const ReportQuery& q, const Table& r, const QSet<QString>& has_used) {
    QList<int> keys;
    for (const QString& g : q.group_by)
        keys << int(r.columns.indexOf(g));
    mu::data list{mu::data::type::list};
    QStringList current_key;
    QList<QStringList> members;
    auto flush = [&] {
        if (members.isEmpty()) return;
        mu::data entry = row_object(r.columns, members.first(), has_used);
        entry.set(s(q.children), rows_list(r.columns, members, has_used));
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

// The longest run of characters without a blank in the text of some HTML
// (tags aside): a word that long never finds a line it fits on.
qsizetype longest_word(const QString& html) {
    qsizetype longest = 0, run = 0;
    bool in_tag = false;
    for (QChar c : html) {
        if (c == u'<') in_tag = true;
        if (in_tag || c.isSpace()) {
            run = 0;
        } else {
            longest = std::max(longest, ++run);
        }
        if (c == u'>') in_tag = false;
    }
    return longest;
}

struct TooMuchText {};

QString render(const QString& tmpl, const mu::data& data, const QHash<QString, qsizetype>& list_sizes,
               const QString& band, const QString& path, QString& error) {
    if (tmpl.trimmed().isEmpty()) return {};
    // Sections nest only so deep: the template engine recurses per level.
    // And they repeat only so often: a section over a list repeats once per
    // row for every repeat of the sections around it.
    int depth = 0, deepest = 0;
    QList<double> repeats{1.0};
    double most_repeats = 1.0;
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
        if (tag == u'#' || tag == u'^') {
            deepest = std::max(deepest, ++depth);
            const qsizetype end = tmpl.indexOf(QLatin1String("}}"), at);
            const QString name = tmpl.mid(at + 1, end < 0 ? -1 : end - at - 1).trimmed();
            repeats << repeats.last() *
                           double(tag == u'#' ? std::max<qsizetype>(1, list_sizes.value(name, 1)) : 1);
            most_repeats = std::max(most_repeats, repeats.last());
        }
        if (tag == u'/') {
            --depth;
            if (repeats.size() > 1) repeats.removeLast();
        }
    }
    if (most_repeats > kMaxSectionRepeats) {
        error = QStringLiteral("The report file %1 repeats sections in its %2 over its rows about %L3 times, "
                               "more than the %L4 a report may.")
                    .arg(readable_path(path), band)
                    .arg(most_repeats, 0, 'g', 3)
                    .arg(kMaxSectionRepeats, 0, 'g', 3);
        return {};
    }
    if (deepest > kMaxTemplateDepth) {
        error = QStringLiteral("The report file %1 nests sections in its %2 deeper than %3 levels.")
                    .arg(readable_path(path), band)
                    .arg(kMaxTemplateDepth);
        return {};
    }
    mu::mustache m{s(tmpl)};
    if (!m.is_valid()) {
        error = QStringLiteral("The report file %1 has a fault in its %2: %3")
                    .arg(readable_path(path), band, QString::fromStdString(m.error_message()));
        return {};
    }
    std::string out;
    try {
        m.render(data, [&out](const std::string& part) {
            out += part;
            if (qint64(out.size()) > kMaxRenderedBytes) throw TooMuchText{};
        });
    } catch (const TooMuchText&) {
        error = QStringLiteral("The report file %1 makes more than %L2 MB of text in its %3.")
                    .arg(readable_path(path))
                    .arg(kMaxRenderedBytes / (1024 * 1024))
                    .arg(band);
        return {};
    }
    const QString html = QString::fromStdString(out);
    if (longest_word(html) > kMaxWordLength) {
        error = QStringLiteral("The report file %1 prints, in its %2, a word of more than %L3 characters, "
                               "which no page can lay out.")
                    .arg(readable_path(path), band)
                    .arg(kMaxWordLength);
        return {};
    }
    return html;
}

} // namespace

QString PreparedReport::footer_html(int page, int pages) const {
    QString html = footer_template;
    html.replace(QLatin1String("{{page}}"), QString::number(page));
    html.replace(QLatin1String("{{pages}}"), QString::number(pages));
    return html;
}

Prepared prepare_report(const ReportRequest& request, const QString& database_path,
                        const QList<const ReportDecorator*>& decorators) {
    const QString path = resolve_report_path(request.file_path);
    if (path.isEmpty())
        return {std::nullopt,
                QStringLiteral("The report file %1 cannot be found.").arg(readable_path(request.file_path))};
    ParsedReportFile parsed = read_report_file(path);
    if (!parsed.file) return {std::nullopt, parsed.error};
    PreparedReport out{*parsed.file, {}, {}, {}, {}, {}};
    const ReportFile& file = out.file;

    // The formula, checked against the schema and the report's queries.
    std::optional<Selection> selection;
    if (request.selection) {
        selection = request.selection;
        bool has_place = false;
        for (const ReportQuery& q : file.queries)
            has_place |= q.sql.contains(QLatin1String("{selection}"));
        if (!has_place)
            return {std::nullopt, QStringLiteral("The report %1 has no place for the selection formula %2.")
                                      .arg(readable_path(path), request.selection->text())};
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
    // The signature line: who verified the report, when it selects one that was.
    data.set("signature", false);
    data.set("provisional", false);
    QHash<QString, QString> top;          // fields of the single-row queries, for the file name
    QHash<QString, qsizetype> list_sizes; // rows of every list the template may repeat over
    const QSet<QString> has_used = has_names_used(file);

    // The rows, read and decorated.
    QList<RowQuery> queries;
    for (const ReportQuery& q : file.queries)
        queries << RowQuery{q.name, q.sql, int(q.line)};
    std::optional<RowSelection> rows_of;
    if (selection) rows_of = RowSelection{selection->table, selection->field, selection->value};
    const ReportRows read = read_report_rows(readable_path(path), queries, rows_of, database_path,
                                             reading_through_shared(), decorators);
    if (!read.error.isEmpty()) return {std::nullopt, read.error};
    for (qsizetype n = 0; n < read.tables.size(); ++n) {
        const ReportQuery& q = file.queries[n];
        const Table& r = read.tables[n];
        list_sizes[q.name] = r.rows.size();
        if (!q.children.isEmpty())
            list_sizes[q.children] = std::max(list_sizes.value(q.children), r.rows.size());
        data.set(s(q.name),
                 q.group_by.isEmpty() ? rows_list(r.columns, r.rows, has_used) : grouped(q, r, has_used));
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
    for (const ReportChart& chart : file.charts)
        for (qsizetype n = 0; n < read.tables.size(); ++n)
            if (file.queries[n].name == chart.query)
                out.charts.insert(chart.name, draw_chart(chart, read.tables[n].columns, read.tables[n].rows));
    for (auto v = read.values.cbegin(); v != read.values.cend(); ++v) {
        if (v.value().typeId() == QMetaType::Bool)
            data.set(s(v.key()), v.value().toBool());
        else
            data.set(s(v.key()), s(v.value().toString()));
    }

    QString error;
    out.header_html = render(file.header, data, list_sizes, QStringLiteral("header"), path, error);
    if (error.isEmpty())
        out.body_html = render(file.body, data, list_sizes, QStringLiteral("body"), path, error);
    if (error.isEmpty())
        out.footer_template = render(file.footer, data, list_sizes, QStringLiteral("footer"), path, error);
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
