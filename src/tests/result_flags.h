#pragma once

#include "test_definition.h"

#include <QString>

#include <optional>

// High and low flags for results outside their normal range. Nothing about a
// flag is stored: it follows from the result, the range and the patient's sex.

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

// The flag of a stored row, found by its test table and item caption.
QString stored_result_flag(const QString& table, const QString& item, const QString& result,
                           const QString& sex);
