#pragma once

// What the result-screen suites share: the patient kinds the menu offers, a
// result every screen accepts, the catalogue as data rows, and the check of
// whether the doctor was stored by the time a report printed.
#include "definition.h"
#include "records.h"

#include <QStringList>
#include <QTest>

enum class Kind { New, Old, WalkIn };

inline QString result_value(const TestDefinition& t) {
    return t.max_length >= 30 ? QStringLiteral("Reactive 1:80") : QStringLiteral("12.5");
}

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
