#include "number_value.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool ignorable(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int digit_in_radix(QChar c, int radix) {
    int d = -1;
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        d = u - u'0';
    else if (u >= u'a' && u <= u'f')
        d = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        d = u - u'A' + 10;
    return d < radix ? d : -1;
}

double radix_value(const QString& s, qsizetype i, int radix) {
    double value = 0;
    for (; i < s.size(); ++i) {
        const int digit = digit_in_radix(s[i], radix);
        if (digit < 0) break;
        value = value * radix + digit;
    }
    return value;
}

} // namespace

double number_value(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!ignorable(c)) s.append(c);

    if (s.size() >= 2 && s[0] == u'&') {
        const QChar p = s[1].toUpper();
        if (p == u'H') return radix_value(s, 2, 16);
        if (p == u'O') return radix_value(s, 2, 8);
        return 0;
    }

    // Collect the longest prefix of the form [sign] digits [. digits] [e [sign] digits].
    std::string n;
    qsizetype i = 0;
    auto digit_at = [&](qsizetype k) { return k < s.size() && s[k] >= u'0' && s[k] <= u'9'; };
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) n += char(s[i++].toLatin1());
    bool any_digit = false;
    while (digit_at(i))
        n += char(s[i++].toLatin1()), any_digit = true;
    if (i < s.size() && s[i] == u'.') {
        n += '.';
        ++i;
        while (digit_at(i))
            n += char(s[i++].toLatin1()), any_digit = true;
    }
    if (!any_digit) return 0;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
        qsizetype k = i + 1;
        std::string exponent = "e";
        if (k < s.size() && (s[k] == u'+' || s[k] == u'-')) exponent += char(s[k++].toLatin1());
        if (digit_at(k)) {
            while (digit_at(k))
                exponent += char(s[k++].toLatin1());
            n += exponent;
        }
    }
    const double value = std::strtod(n.c_str(), nullptr);
    return std::isfinite(value) ? value : 0;
}

QString plain_number(double value) {
    if (value == std::floor(value)) return QString::number(value, 'f', 0);
    QString s = QString::number(value, 'f', 12);
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    return s;
}

QVariant key_value(double value) {
    if (value == std::floor(value) && std::fabs(value) < 9.0e18) return QVariant(qint64(value));
    return QVariant(value);
}

std::optional<QVariant> id_value(const QString& text) {
    std::string s;
    for (QChar c : text)
        if (!ignorable(c)) s += c.unicode() < 128 ? char(c.unicode()) : '?';
    std::size_t i = 0;
    const std::size_t sign = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    i = sign;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    const bool digits = i > sign;
    const bool more =
        i < s.size() && (s[i] == '.' || s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D');
    if (!digits || more || (!s.empty() && s[0] == '&')) {
        // Not a plain whole number: as number_value reads it, unless it is
        // a whole number too large for a 64-bit key.
        const double v = number_value(text);
        if (v == std::floor(v) && std::fabs(v) >= 9223372036854775808.0) return std::nullopt;
        return key_value(v);
    }
    qint64 value = 0;
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(first, s.data() + i, value);
    if (error != std::errc() || end != s.data() + i) return std::nullopt;
    return QVariant(value);
}

QString id_text(const QVariant& id) {
    if (id.typeId() == QMetaType::LongLong || id.typeId() == QMetaType::Int)
        return QString::number(id.toLongLong());
    return plain_number(id.toDouble());
}

std::optional<qint64> whole_number(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return std::nullopt;
    for (QChar c : t)
        if (c < u'0' || c > u'9') return std::nullopt;
    bool in_range = false;
    const qint64 value = t.toLongLong(&in_range, 10);
    return in_range ? std::optional<qint64>(value) : std::nullopt;
}
