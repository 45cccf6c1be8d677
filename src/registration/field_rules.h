#pragma once

#include "boxes.h"
#include "key_filters.h"

#include <QString>

class QWidget;

// The registration screen checks its boxes while the user types, not at Save:
// a key filter, a length rule with its own message (title "Information"),
// trimming when the box is left, and Enter moving on.
struct FieldRule {
    const char* box;
    CharFilter filter;   // nullptr: any character
    int max_length;      // 0: no length rule
    const char* message; // shown when the text grows past max_length
    bool trim_when_left;
};

inline constexpr FieldRule kFieldRules[] = {
    {"Text1", digits_only, 245, "Data is too long.", false},
    {"text2", name_chars, 45, "The name is too big to enter.", true},
    {"Text3", nullptr, 0, nullptr, false}, // the age rule instead
    {"Text4", nullptr, 6, "The data is too big to enter.", false},
    {"Text5", phone_chars, 24, "The number is too big to enter.", false},
    {"Text6", nullptr, 24, "Data is too long.", false},
    {"Text7", nullptr, 45, "The name is too long.", false},
    {"Text8", name_chars, 45, "The data is too big to enter.", false},
    {"text9", no_apostrophe, 245, "The address is too big to enter.", true},
    {"Text10", nullptr, 24, "data is too long.", false},
    {"text12", nullptr, 0, nullptr, false},
};

// The age box accepts any text whose number value is 0 to 150 and that is at
// most 8 characters long.
inline constexpr double kOldestAge = 150;
inline constexpr int kLongestAge = 8;

// Applies a rule to its box: the filter, Enter moving on, the length rule after
// every change (typed, pasted or set by the program), trimming when left.
void apply_field_rule(QWidget* box, const FieldRule& rule);

// The age rule, after every change of the age box.
void apply_age_rule(QWidget* box);
