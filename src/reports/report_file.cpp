#include "report_file.h"

#include "connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>

QString readable_path(const QString& path) {
    // The program names its report files as folder + "\file.rpt": on this
    // machine that backslash is a folder separator like any other.
    QString p = path;
    p.replace(u'\\', u'/');
    return QDir::toNativeSeparators(QDir::cleanPath(p));
}

QString resolve_report_path(const QString& file_path) {
    QString path = file_path;
    path.replace(u'\\', u'/');
    if (QFileInfo(path).isAbsolute()) return QFileInfo::exists(path) ? path : QString();
    for (const QString& folder : {QDir::currentPath(), program_folder()}) {
        const QString candidate = QDir(folder).filePath(path);
        if (QFileInfo::exists(candidate)) return QDir::cleanPath(candidate);
    }
    return {};
}

ParsedReportFile read_report_file(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        return {std::nullopt, QStringLiteral("The report file %1 is not a file.").arg(readable_path(path))};
    if (info.size() > kMaxReportFileBytes)
        return {std::nullopt,
                QStringLiteral("The report file %1 is larger than the %2 KiB a report file may be.")
                    .arg(readable_path(path))
                    .arg(kMaxReportFileBytes / 1024)};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("The report file %1 cannot be read: %2")
                                  .arg(readable_path(path), f.errorString())};
    ReportFile r;
    r.path = path;
    r.folder = QFileInfo(path).absolutePath();
    QXmlStreamReader xml(&f);
    auto fault = [&](const QString& what) {
        return ParsedReportFile{std::nullopt, QStringLiteral("The report file %1 is not valid (line %2): %3")
                                                  .arg(readable_path(path))
                                                  .arg(xml.lineNumber())
                                                  .arg(what)};
    };
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("report"))
        return fault(xml.hasError() ? xml.errorString() : QStringLiteral("it does not start with <report>"));
    r.title = xml.attributes().value(QLatin1String("title")).toString();
    bool has_body = false;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        const QXmlStreamAttributes a = xml.attributes();
        const qint64 line = xml.lineNumber();
        if (name == QLatin1String("page")) {
            const QString size = a.value(QLatin1String("size")).toString();
            if (size.compare(QLatin1String("A5"), Qt::CaseInsensitive) == 0)
                r.page_size = QPageSize::A5;
            else if (size.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0)
                r.page_size = QPageSize::Letter;
            else if (!size.isEmpty() && size.compare(QLatin1String("A4"), Qt::CaseInsensitive) != 0)
                return fault(QStringLiteral("unknown page size \"%1\"").arg(size));
            if (a.value(QLatin1String("orientation")) == QLatin1String("landscape"))
                r.orientation = QPageLayout::Landscape;
            if (a.hasAttribute(QLatin1String("margins"))) {
                const QStringList m =
                    a.value(QLatin1String("margins")).toString().split(u' ', Qt::SkipEmptyParts);
                if (m.size() != 4)
                    return fault(QStringLiteral("margins take four numbers: left top right bottom"));
                r.margins_mm = QMarginsF(m[0].toDouble(), m[1].toDouble(), m[2].toDouble(), m[3].toDouble());
            }
            xml.skipCurrentElement();
        } else if (name == QLatin1String("query")) {
            ReportQuery q;
            q.name = a.value(QLatin1String("name")).toString();
            q.single = a.value(QLatin1String("single")) == QLatin1String("true");
            q.group_by = a.value(QLatin1String("group-by")).toString().split(u',', Qt::SkipEmptyParts);
            for (QString& g : q.group_by)
                g = g.trimmed();
            q.children = a.value(QLatin1String("children")).toString();
            q.line = line;
            q.sql = xml.readElementText().trimmed();
            if (q.name.isEmpty()) return fault(QStringLiteral("a query without a name"));
            if (!q.group_by.isEmpty() && q.children.isEmpty())
                return fault(QStringLiteral("query \"%1\" groups rows but names no children").arg(q.name));
            r.queries << q;
        } else if (name == QLatin1String("chart")) {
            ReportChart c;
            c.name = a.value(QLatin1String("name")).toString();
            c.query = a.value(QLatin1String("query")).toString();
            bool width_ok = true, height_ok = true;
            if (a.hasAttribute(QLatin1String("width")))
                c.width_mm = a.value(QLatin1String("width")).toDouble(&width_ok);
            if (a.hasAttribute(QLatin1String("height")))
                c.height_mm = a.value(QLatin1String("height")).toDouble(&height_ok);
            xml.skipCurrentElement();
            if (c.name.isEmpty()) return fault(QStringLiteral("a chart without a name"));
            if (std::none_of(r.queries.cbegin(), r.queries.cend(),
                             [&](const ReportQuery& q) { return q.name == c.query; }))
                return fault(QStringLiteral("chart \"%1\" names no query written before it").arg(c.name));
            if (!width_ok || !height_ok || c.width_mm < 20 || c.width_mm > 400 || c.height_mm < 15 ||
                c.height_mm > 300)
                return fault(QStringLiteral("chart \"%1\": width 20-400 and height 15-300 (mm)").arg(c.name));
            r.charts << c;
        } else if (name == QLatin1String("style")) {
            r.style = xml.readElementText();
        } else if (name == QLatin1String("header") || name == QLatin1String("footer")) {
            const bool header = name == QLatin1String("header");
            const double min_mm = a.value(QLatin1String("height")).toDouble();
            QString html;
            if (a.hasAttribute(QLatin1String("include"))) {
                const QString included =
                    QDir(r.folder).filePath(a.value(QLatin1String("include")).toString());
                const QFileInfo inc_info(included);
                // Only the report files' own folder: never the system's files.
                const QString folder = QDir(r.folder).canonicalPath();
                if (inc_info.canonicalFilePath().isEmpty() || folder.isEmpty() ||
                    !inc_info.canonicalFilePath().startsWith(folder + u'/'))
                    return fault(QStringLiteral("the included file %1 is not in the report files' folder %2")
                                     .arg(readable_path(included), readable_path(r.folder)));
                if (!inc_info.isFile() || inc_info.size() > kMaxIncludedBytes)
                    return fault(QStringLiteral("the included file %1 is not a file of at most %2 KiB")
                                     .arg(readable_path(included))
                                     .arg(kMaxIncludedBytes / 1024));
                QFile inc(included);
                if (!inc.open(QIODevice::ReadOnly))
                    return fault(
                        QStringLiteral("the included file %1 cannot be read").arg(readable_path(included)));
                // Anything written inside the element follows the included part.
                html = QString::fromUtf8(inc.readAll()) + xml.readElementText();
            } else {
                html = xml.readElementText();
            }
            (header ? r.header : r.footer) = html;
            (header ? r.header_min_mm : r.footer_min_mm) = min_mm;
            if (header) r.header_top_mm = a.value(QLatin1String("top")).toDouble();
        } else if (name == QLatin1String("body")) {
            r.body = xml.readElementText();
            has_body = true;
        } else {
            return fault(QStringLiteral("unknown element <%1>").arg(name.toString()));
        }
        if (xml.hasError()) return fault(xml.errorString());
    }
    if (xml.hasError()) return fault(xml.errorString());
    if (!has_body) return fault(QStringLiteral("the report has no <body>"));
    return {r, {}};
}
