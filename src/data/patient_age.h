#pragma once

#include <QString>

#include <cmath>
#include <optional>

// A patient's age as the Age box holds it, read as a number of days, so that
// a result can be read against the range of that age.

enum class AgeUnit { Days, Weeks, Months, Years };

// An age as a range table writes its bounds: "6 months", "2 years".
struct Age {
    double count;
    AgeUnit unit;
};

constexpr double kDaysPerYear = 365.25;

// The same count of days for a bound of a table and for a typed age, so that
// "12 months" and "1 year" fall on the same side of a bound.
constexpr int days_of(Age a) {
    double per = 1;
    switch (a.unit) {
    case AgeUnit::Days:
        per = 1;
        break;
    case AgeUnit::Weeks:
        per = 7;
        break;
    case AgeUnit::Months:
        per = kDaysPerYear / 12;
        break;
    case AgeUnit::Years:
        per = kDaysPerYear;
        break;
    }
    return int(a.count * per + 0.5);
}

constexpr Age years(double n) {
    return {n, AgeUnit::Years};
}
constexpr Age months(double n) {
    return {n, AgeUnit::Months};
}

// How a bound is printed: "6 mo", "2 y", "3 wk", "10 d".
QString age_shown(Age a);
// A band of ages as printed: "2-6 y", "1-3 mo", "6 mo-1 y".
QString age_band_shown(Age from, Age to);

// The typed age in days: a bare number is years, as the box has always been
// filled ("34", "1.5"); otherwise numbers with their units, in any order and
// each unit once: "6 months", "6 m", "3 weeks", "10 days", "10 d",
// "2 years 3 months", "2y3m". Nothing is read from a text that is not an age
// ("", "-", "adult", "34/F"), from a bare "0" (what the registration screen
// writes over an age it refused), or from an age over 150 years.
std::optional<int> age_in_days(const QString& typed);
