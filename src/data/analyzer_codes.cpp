#include "analyzer_codes.h"

#include "connection.h"

#include <QFile>

QString analyzer_codes_path() {
    return program_folder() + u'/' + QLatin1String(kAnalyzerCodesFileName);
}

AnalyzerCodes read_analyzer_codes(const QString& path) {
    AnalyzerCodes out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        out.problems << QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString());
        return out;
    }
    bool header = false;
    int number = 0;
    while (!f.atEnd()) {
        ++number;
        QString line = QString::fromUtf8(f.readLine());
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0) line.truncate(hash);
        while (line.endsWith(u'\n') || line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        QStringList fields = line.split(u'\t');
        for (QString& field : fields)
            field = field.trimmed();
        if (!header) {
            header = true;
            if (fields.value(0).compare(QLatin1String("code"), Qt::CaseInsensitive) == 0) continue;
            out.problems << QStringLiteral("line %1: the first line must be the header "
                                           "\"code<TAB>test<TAB>item<TAB>unit\"")
                                .arg(number);
        }
        if (fields.size() < 3 || fields.size() > 5 || fields[0].isEmpty() || fields[1].isEmpty() ||
            fields[2].isEmpty()) {
            out.problems << QStringLiteral(
                                "line %1: a code, a test and an item are needed, separated by tabs")
                                .arg(number);
            continue;
        }
        out.mappings << CodeMapping{number,    fields[0],       fields[1],
                                    fields[2], fields.value(3), fields.value(4)};
    }
    return out;
}
