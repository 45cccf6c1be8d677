#pragma once

#include "investigations.h"

#include <QString>

#include <optional>
#include <span>

// The normal ranges of the results, and the high and low flags of results
// outside them. Nothing about a flag is stored: it follows from the result,
// the range and the patient's sex.

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

// How a flag is read out: "high" for H, "low" for L, empty otherwise.
QString flag_description(const QString& flag);

// The flag of a stored row, found by its test table and item caption.
QString stored_result_flag(const QString& table, const QString& item, const QString& result,
                           const QString& sex);
