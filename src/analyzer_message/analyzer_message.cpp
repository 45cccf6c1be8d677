#include "analyzer_message.h"

QString joined_test_id(const QStringList& components) {
    QStringList parts = components;
    while (!parts.isEmpty() && parts.last().trimmed().isEmpty())
        parts.removeLast();
    return parts.join(u'^');
}

QString canonical_lab_id(const QString& specimen_id) {
    const QString t = specimen_id.trimmed();
    bool digits = !t.isEmpty();
    for (QChar c : t)
        digits = digits && c >= u'0' && c <= u'9';
    if (!digits) return t;
    qsizetype first = 0;
    while (first < t.size() - 1 && t[first] == u'0')
        ++first;
    return t.mid(first);
}
