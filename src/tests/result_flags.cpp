#include "result_flags.h"

#include <QHash>

std::optional<double> leading_number(const QString& result) {
    const QString text = result.trimmed();
    if (text.isEmpty() || !(text[0].isDigit() || (text[0] == u'.' && text.size() > 1 && text[1].isDigit())))
        return std::nullopt;
    QString number;
    bool point = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128) {
            number += c;
        } else if (c == u',' && i + 1 < text.size() && text[i + 1].isDigit() && !point) {
            continue; // a digit-group comma
        } else if (c == u'.' && !point && i + 1 < text.size() && text[i + 1].isDigit()) {
            number += c;
            point = true;
        } else {
            break;
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

Sex sex_of(const QString& text) {
    const QString s = text.trimmed().toLower();
    if (s == QLatin1String("m") || s == QLatin1String("male")) return Sex::Male;
    if (s == QLatin1String("f") || s == QLatin1String("female")) return Sex::Female;
    return Sex::Unknown;
}

QString result_flag(const NormalRange& range, const QString& result, const QString& sex) {
    if (!range.any()) return {};
    const Bounds* bounds = &range.all;
    if (range.by_sex) {
        const Sex s = sex_of(sex);
        if (s == Sex::Unknown) return {};
        bounds = s == Sex::Male ? &range.male : &range.female;
    }
    const auto value = leading_number(result);
    if (!value) return {};
    if (bounds->has_high && *value > bounds->high) return QStringLiteral("H");
    if (bounds->has_low && *value < bounds->low) return QStringLiteral("L");
    return {};
}

QString stored_result_flag(const QString& table, const QString& item, const QString& result,
                           const QString& sex) {
    // Every item with a range, by test table (in lower case) and trimmed caption.
    static const QHash<QString, const NormalRange*> ranges = [] {
        QHash<QString, const NormalRange*> h;
        for (const TestDefinition* t : test_catalogue())
            for (const ResultItem& i : t->items)
                if (i.range.any())
                    h.insert(QString::fromLatin1(t->table).toLower() + u'\x1f' +
                                 QString::fromUtf8(i.caption).trimmed(),
                             &i.range);
        return h;
    }();
    const NormalRange* range = ranges.value(table.toLower() + u'\x1f' + item.trimmed());
    return range ? result_flag(*range, result, sex) : QString();
}
