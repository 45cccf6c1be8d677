#include "received_message.h"

#include "analyzer_results.h"
#include "astm.h"
#include "escapes.h"
#include "hl7.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <tuple>

namespace {

// A short account of a stored message's results for the log.
QString results_summary(const QList<AnalyzerResult>& results) {
    QStringList ids, controls;
    qsizetype patients = 0;
    for (const AnalyzerResult& r : results) {
        QStringList& of = r.qc ? controls : ids;
        if (const QString id = r.qc ? r.lab_id : canonical_lab_id(r.lab_id); !of.contains(id)) of << id;
        patients += !r.qc;
    }
    QString out = QStringLiteral("%1 result%2 for lab id %3")
                      .arg(patients)
                      .arg(patients == 1 ? "" : "s")
                      .arg(ids.isEmpty() ? QStringLiteral("none") : ids.join(QStringLiteral(", ")));
    if (!controls.isEmpty())
        out += QStringLiteral("; %1 quality-control result%2 (%3)")
                   .arg(results.size() - patients)
                   .arg(results.size() - patients == 1 ? "" : "s")
                   .arg(controls.join(QStringLiteral(", ")));
    return out;
}

} // namespace

QString store_message(const ReceivedMessage& message, const std::function<void(const QString&)>& log) {
    const auto id = store_analyzer_message(message);
    if (!id.ok())
        return id.error.description.isEmpty() ? QStringLiteral("the database refused it")
                                              : id.error.description;
    if (id.value.again)
        log(QStringLiteral(
                "%1: message %2 came again (it had no acknowledgement): acknowledged, not stored again")
                .arg(message.analyzer)
                .arg(id.value.id));
    else if (message.problem.isEmpty())
        log(QStringLiteral("%1: message %2 stored: %3")
                .arg(message.analyzer)
                .arg(id.value.id)
                .arg(results_summary(message.results)));
    else
        log(QStringLiteral("%1: message %2 refused and kept: %3")
                .arg(message.analyzer)
                .arg(id.value.id)
                .arg(message.problem));
    return {};
}

ReceivedMessage read_message(const AnalyzerChannel& c, const QByteArray& raw) {
    ReceivedMessage m{c.name, c.protocol, raw, {}, {}};
    if (c.protocol == QLatin1String("astm")) {
        const astm::Parsed parsed = astm::parse_message(raw, c.sample_id, c.value_component);
        std::tie(m.results, m.problem) = std::tie(parsed.results, parsed.problem);
        // The same records from the same analyzer are the same message (its
        // header's date and time tell one run from the next).
        m.key = c.name + u':' +
                QString::fromLatin1(
                    QCryptographicHash::hash(with_cr_line_ends(raw), QCryptographicHash::Sha256).toHex());
    } else {
        const hl7::Parsed parsed = hl7::parse_message(raw, c.sample_id);
        std::tie(m.results, m.problem) = std::tie(parsed.results, parsed.problem);
        m.key = hl7::message_key(raw);
    }
    for (AnalyzerResult& r : m.results)
        for (const QRegularExpression& pattern : c.qc_samples)
            r.qc = r.qc || pattern.match(r.lab_id).hasMatch();
    // A message refused is never one sent again: it keeps no key.
    if (!m.problem.isEmpty()) m.key.clear();
    if (c.sender_from_header) {
        const QString named =
            c.protocol == QLatin1String("astm") ? astm::sender_name(raw) : hl7::sender_name(raw);
        if (!named.isEmpty()) m.analyzer = named;
    }
    return m;
}

ReceivedMessage incomplete(const AnalyzerChannel& c, const QByteArray& raw, const QString& why) {
    return {c.name, c.protocol, raw, {}, QStringLiteral("incomplete: ") + why};
}
