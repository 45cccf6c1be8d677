#pragma once

// What the result-screen suites share: the patient kinds the menu offers, a
// result every screen accepts, the catalogue as data rows, the check of
// whether the doctor was stored by the time a report printed, and the answers
// given when a critical result asks for its call.
#include "critical_call.h"
#include "definition.h"
#include "normal_ranges.h"
#include "records.h"

#include <QStringList>
#include <QTest>

enum class Kind { New, Old, WalkIn };

// `usual`, or, for a box with critical limits, a number between them: the
// shared workflow is tested without the critical-value step.
inline QString plain_result(const TestDefinition& t, int box, const QString& usual) {
    const CriticalLimit* limit = critical_limit(*t.investigation, QString::fromUtf8(t.items[box].caption));
    if (!limit || critical_flag(*limit, usual).isEmpty()) return usual;
    return QString::number((limit->bounds.low + limit->bounds.high) / 2);
}

inline QString result_value(const TestDefinition& t) {
    return t.max_length >= 30 ? QStringLiteral("Reactive 1:80") : plain_result(t, 0, QStringLiteral("12.5"));
}

// While it lives, the call question is answered with `answer` (nullopt: "not
// yet") and every question is kept.
struct CallAnswers {
    QList<CallQuestion> asked;
    std::optional<CallAnswer> answer;
    CriticalCallHandler previous;

    CallAnswers() {
        previous = set_critical_call_handler([this](const CallQuestion& q) {
            asked << q;
            return answer;
        });
    }
    ~CallAnswers() { set_critical_call_handler(std::move(previous)); }
};

// One data row per definition, in the catalogue's order: the column "test".
inline void catalogue_rows() {
    QTest::addColumn<int>("test");
    for (int i = 0; i < int(test_catalogue().size()); ++i)
        QTest::newRow(test_catalogue()[i]->investigation->test) << i;
}

// For PrintLog::seen: the doctor's name once it is stored, nothing before.
inline QStringList doctor_stored(const QString& doctor) {
    return select_rows(QStringLiteral("select name from doctors where name = ?"), {doctor}).value.isEmpty()
               ? QStringList()
               : QStringList{doctor};
}
