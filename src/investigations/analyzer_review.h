#pragma once

#include "analyzer_codes.h"
#include "analyzer_results.h"
#include "definition.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What the analyzers' results do on a test screen: the codes file says which
// box each code fills; a box gets the latest result sent for it.

// Whether a line of the codes file takes this result: its code names the
// result's code or whole test id, and its type (when it gives one) is the
// result's status or the last part of a test id longer than four parts.
bool mapping_takes(const CodeMapping& mapping, const AnalyzerResult& result);
// The box of `test` that a line of the codes file fills, or -1.
int mapped_box(const TestDefinition& test, const CodeMapping& mapping);
// The test screen a line of the codes file fills a box of, or nullptr.
const TestDefinition* mapped_test(const CodeMapping& mapping);
// The lines of the codes file that name a test or an item no screen has.
QStringList code_problems(const AnalyzerCodes& codes);

struct AnalyzerFill {
    struct Box {
        int box;
        QString text;       // the value in front of the box's unit
        bool over_typed;    // the box holds a result the user typed
        QList<qint64> used; // the pending results this box takes (earlier runs too)
    };
    QList<Box> boxes; // in the screen's order
};

// The boxes `pending` fills on `test`'s screen, given what the boxes show
// now; `only_unit` says whether a box's text is only its unit (or empty).
AnalyzerFill analyzer_fill(const TestDefinition& test, const QList<PendingResult>& pending,
                           const AnalyzerCodes& codes, const QStringList& box_texts,
                           const std::function<bool(const QString&)>& only_unit);

// A line of the pending analyzer results window.
struct PendingLine {
    enum class Kind {
        Ready,     // its report exists and the code fills one of its boxes
        Replaced,  // its box takes a later result for the same lab id
        NoMapping, // the codes file maps its code to no box of its report's test
        NoReport,  // no report has its lab id (yet)
    };
    Kind kind;
    PendingResult pending;
    // The report's test and the caption of the box the result fills (empty:
    // none). Without a report, the test and box the codes file sends it to.
    QString test;
    QString item;
};
// What arrived and was not taken, in the order the window lists it: the
// results ready for their reports first, then those apart (no mapping,
// then no report yet), each part by lab id and then as they arrived.
// `report_tests`: the test of each lab id that has a report.
QList<PendingLine> pending_overview(const QList<PendingResult>& pending, const AnalyzerCodes& codes,
                                    const QHash<QString, QString>& report_tests);
