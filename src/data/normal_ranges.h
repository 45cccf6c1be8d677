#pragma once

#include "investigations.h"
#include "patient_age.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <utility>

// The normal ranges of the results, and the high and low flags of results
// outside them. Nothing about a flag is stored: it follows from the result,
// the range and the patient's sex and age.

// A result's normal range, written by hand from its caption (never parsed at
// run time). A bound that is absent flags nothing on that side; an item
// without any bound is never flagged.
struct Bounds {
    bool has_low = false;
    double low = 0;
    bool has_high = false;
    double high = 0;
};

struct NormalRange {
    Bounds all;
    Bounds male, female; // when by_sex
    bool by_sex = false;

    constexpr bool any() const { return by_sex || all.has_low || all.has_high; }
};

constexpr NormalRange between(double low, double high) {
    return {{true, low, true, high}, {}, {}, false};
}
constexpr NormalRange up_to(double high) {
    return {{false, 0, true, high}, {}, {}, false};
}
constexpr NormalRange at_least(double low) {
    return {{true, low, false, 0}, {}, {}, false};
}
constexpr NormalRange by_sex(double male_low, double male_high, double female_low, double female_high) {
    return {{}, {true, male_low, true, male_high}, {true, female_low, true, female_high}, true};
}

// One item's range: the test and the item's caption exactly as its screen
// shows it and its rows store it.
struct ItemRange {
    const Investigation* test;
    const char* item;
    NormalRange range;
};

// Every item that has a normal range.
std::span<const ItemRange> normal_ranges();

// The range of an item (its caption compared with blanks trimmed), or nullptr.
const NormalRange* normal_range(const Investigation& test, const QString& item);

// The leading number of a result: digit-group commas removed ("14,500",
// "1,20,000"), the unit after it ignored ("12 gm/dl"). A text that does not
// start with a number ("Nil", "Reactive", "+", "-5") has none.
std::optional<double> leading_number(const QString& result);

enum class Sex { Unknown, Male, Female };
// "M", "Male", "F", "Female" in any case, blanks ignored; anything else is unknown.
Sex sex_of(const QString& text);

// "H" above the range, "L" below it, empty otherwise (no number, no range, or
// a range by sex for a patient whose sex is unknown).
QString result_flag(const NormalRange& range, const QString& result, const QString& sex);

// The item's range for a child: from one age up to, not including, another.
// The bands of an item follow each other from birth without a gap; from the
// end of the last one the item's own range applies.
struct ChildRange {
    const Investigation* test;
    const char* item; // the caption, as in the normal ranges
    Age from, to;
    NormalRange range;
    int decimals; // as the range is printed: "11.5 - 13.5", "6000 - 17500"
};

std::span<const ChildRange> child_ranges();

// The range a patient's result is read against.
struct AppliedRange {
    std::optional<Bounds> bounds; // none: the result is not flagged H or L
    // Printed beside the caption: empty where the caption's own range applies,
    // "11.5 - 13.5 (age 2-6 y)" for a child's range, or "none, age not read"
    // and "none, sex not given" when nothing can be flagged.
    QString shown;
};

// An item with children's ranges needs an age it can read; the rest are read
// against their caption's range (by sex where it is written by sex).
AppliedRange applied_range(const Investigation& test, const QString& item, const QString& sex,
                           const QString& age);

// Critical limits: a result beyond one is a danger to the patient now, and the
// referring doctor is told at once. Written by hand beside the normal ranges,
// only for items whose unit leaves the number unambiguous; the same for both
// sexes. A result exactly at a limit is not critical.
struct CriticalLimit {
    const Investigation* test;
    const char* item; // the caption, as in the normal ranges
    const char* name; // as a message names it: "Potassium"
    Bounds bounds;
};

std::span<const CriticalLimit> critical_limits();
const CriticalLimit* critical_limit(const Investigation& test, const QString& item);

// "HH" above the critical high, "LL" below the critical low, empty otherwise.
QString critical_flag(const CriticalLimit& limit, const QString& result);
// "Potassium 6.8 (critical above 6.2)" for a critical result, empty otherwise.
QString critical_finding(const CriticalLimit& limit, const QString& result);
// The findings of a report's results (item caption, result text), in order.
QStringList critical_findings(const Investigation& test, const QList<std::pair<QString, QString>>& results);
// What the user is told on saving findings: "Critical value: Potassium 6.8
// (critical above 6.2). Inform the referring doctor now."
QString critical_message(const QStringList& findings);

// The flag a result carries on screen and on paper: HH or LL beyond a
// critical limit (whatever the patient's sex and age), otherwise H or L
// against the applied range.
QString item_flag(const Investigation& test, const QString& item, const QString& result, const QString& sex,
                  const QString& age);
// The same against a range already applied, for callers that also show it.
QString flag_against(const Investigation& test, const QString& item, const QString& result,
                     const AppliedRange& applied);

// How a flag is read out: "high", "low", "critically high", "critically low".
QString flag_description(const QString& flag);

// The flag of a stored row, found by its test table and item caption.
QString stored_result_flag(const QString& table, const QString& item, const QString& result,
                           const QString& sex, const QString& age);
