#include "order_push.h"

#include "analyzer_codes.h"
#include "astm.h"
#include "hl7.h"
#include "investigations.h"
#include "orders.h"

#include <QDateTime>

namespace {

// The most orders read for one analyzer at one look; the rest at the next.
constexpr int kMostAtOnce = 1000;
// An order the analyzer did not acknowledge is sent again after this many looks.
constexpr int kLooksBeforeAgain = 12;

} // namespace

std::optional<OrderForAnalyzer> order_for_analyzer(qint64 accession, const AnalyzerCodes& codes) {
    const auto sample = ordered_sample(accession);
    if (!sample.ok() || !sample.value || sample.value->waiting.isEmpty()) return std::nullopt;
    QStringList wanted;
    for (const Investigation* test : sample.value->waiting)
        for (const CodeMapping& m : codes.mappings)
            if (catalogue::by_test(m.test) == test && !wanted.contains(m.code)) wanted << m.code;
    if (wanted.isEmpty()) return std::nullopt;
    const OrderedSample& s = *sample.value;
    return OrderForAnalyzer{accession_text(s.accession), s.patient_id, s.patient_name, s.urgent, wanted};
}

std::pair<QByteArray, QString> query_answer(const QByteArray& query) {
    const std::pair<QByteArray, QString> none{astm::no_information_reply(), QStringLiteral("no information")};
    const auto accession = accession_in_sample_id(astm::query_sample_id(query));
    if (!accession) return none;
    const auto order = order_for_analyzer(*accession, read_analyzer_codes(analyzer_codes_path()));
    if (!order) return none;
    return {astm::order_reply(*order),
            QStringLiteral("order %1, %2 test code(s)").arg(order->sample_id).arg(order->codes.size())};
}

DbResult<QList<OrderPush>> orders_to_push(const AnalyzerChannel& channel) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString again_before =
        now.addSecs(-qint64(channel.push_every_s) * kLooksBeforeAgain).toString(Qt::ISODate);
    auto due = accessions_to_push(channel.name, again_before, kMostAtOnce);
    if (!due.ok()) return {{}, due.error};
    const AnalyzerCodes codes = read_analyzer_codes(analyzer_codes_path());
    QList<OrderPush> out;
    for (const qint64 accession : due.value) {
        const auto order = order_for_analyzer(accession, codes);
        if (!order) continue; // nothing of it this laboratory's analyzers code
        const QByteArray control =
            QStringLiteral("%1-%2").arg(order->sample_id).arg(now.toSecsSinceEpoch()).toLatin1();
        out << OrderPush{accession, control, hl7::order_message(*order, control, channel.name)};
    }
    return {out, {}};
}
