#pragma once

#include "analyzer_codes.h"
#include "analyzer_message.h"
#include "channel_config.h"
#include "db_error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// What the host tells the analyzers of the orders: the order of a sample an
// ASTM analyzer asks for, and the orders pushed unasked to an HL7 analyzer
// that takes them. Both read the database: they run on the listener's
// database thread, never on a line's.

// An accession's order as an analyzer is told it: its patient and the
// analyzer's code of each test still waiting (analyzer_codes.tsv read
// backwards). Nothing when it has no order, nothing waits, or no waiting test
// has a code.
std::optional<OrderForAnalyzer> order_for_analyzer(qint64 accession, const AnalyzerCodes& codes);

// The answer to an ASTM query (Q record) on a channel whose orders are
// queried: the order of the accession asked for, or "no information"; and
// what the log says of it.
std::pair<QByteArray, QString> query_answer(const QByteArray& query);

// The orders due to a pushing channel now: each received accession with a
// test waiting that it has not acknowledged, and has not been sent since
// 12 looks ago, as its OML^O21 message (one whose waiting tests have no
// code is left out).
struct OrderPush {
    qint64 accession = 0;
    QByteArray control_id;
    QByteArray message;
};
DbResult<QList<OrderPush>> orders_to_push(const AnalyzerChannel& channel);
