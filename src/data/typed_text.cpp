#include "typed_text.h"

QString trim_blanks(const QString& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return text.mid(from, to - from);
}

QString like_literal(QString text) {
    text.replace(u'\\', QLatin1String("\\\\"))
        .replace(u'%', QLatin1String("\\%"))
        .replace(u'_', QLatin1String("\\_"));
    return text;
}
