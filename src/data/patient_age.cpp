#include "patient_age.h"

#include <QRegularExpression>

namespace {

std::optional<AgeUnit> unit_of(const QString& word) {
    static const struct {
        AgeUnit unit;
        const char* words[7];
    } kUnits[] = {
        {AgeUnit::Years, {"y", "yr", "yrs", "year", "years"}},
        {AgeUnit::Months, {"m", "mo", "mos", "mth", "mths", "month", "months"}},
        {AgeUnit::Weeks, {"w", "wk", "wks", "week", "weeks"}},
        {AgeUnit::Days, {"d", "day", "days"}},
    };
    const QString w = word.toLower();
    for (const auto& u : kUnits)
        for (const char* name : u.words)
            if (name && w == QLatin1String(name)) return u.unit;
    return std::nullopt;
}

QString count_shown(double n) {
    return QString::number(n, 'g', 6);
}

} // namespace

QString age_shown(Age a) {
    static const char* const kShort[] = {"d", "wk", "mo", "y"};
    return count_shown(a.count) + u' ' + QLatin1String(kShort[int(a.unit)]);
}

QString age_band_shown(Age from, Age to) {
    // The first count alone when both are in one unit, or the first is 0.
    if (from.unit == to.unit || from.count == 0) return count_shown(from.count) + u'-' + age_shown(to);
    return age_shown(from) + u'-' + age_shown(to);
}

std::optional<int> age_in_days(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty()) return std::nullopt;
    static const QRegularExpression part(QStringLiteral(R"((\d{1,4}(?:\.\d{1,2})?)\s*([A-Za-z]*)\.?[\s,]*)"));
    int days = 0;
    bool seen[4] = {};
    int parts = 0;
    bool bare = false;
    qsizetype at = 0;
    while (at < text.size()) {
        const auto m = part.match(text, at, QRegularExpression::NormalMatch,
                                  QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch() || m.capturedLength() == 0) return std::nullopt;
        const double count = m.captured(1).toDouble();
        const QString word = m.captured(2);
        AgeUnit unit = AgeUnit::Years;
        if (word.isEmpty()) {
            bare = true;
        } else if (const auto u = unit_of(word)) {
            unit = *u;
        } else {
            return std::nullopt;
        }
        if (seen[int(unit)]) return std::nullopt;
        seen[int(unit)] = true;
        days += days_of({count, unit});
        ++parts;
        at += m.capturedLength();
    }
    // A bare number is the whole age, never a part of one ("2 3").
    if (bare && parts > 1) return std::nullopt;
    if (bare && days == 0) return std::nullopt;
    if (days > days_of(years(150))) return std::nullopt;
    return days;
}
