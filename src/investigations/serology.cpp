// Serology: the serology panel and the Widal test.
#include "definition_parts.h"

namespace {

constexpr ResultItem kSerologyItems[] = {
    {"RA-factor (N : Negative)", "", 0, 1, 1}, {"C-reactive protein (N : Negative)", "", 0, 1, 2},
    {"ASLO (N : Negative)", "", 0, 1, 3},      {"VDRL (N : non-reactive)", "", 0, 1, 4},
    {"HBSAG (N : Negative)", "", 0, 2, 1},     {"HIV 1 and  2 (N : Negative)", "", 0, 2, 2},
    {"Montoux (N : Negative)", "", 0, 2, 3},
};

constexpr ResultItem kWidalItems[] = {
    {"S typh1 \"O\"", "", 0, 1, 1},
    {"S typh1 \"H\"", "", 0, 1, 2},
    {"S paratyph1 \"AH\"", "", 0, 1, 3},
    {"A paratyph1 \"BH\"", "", 0, 1, 4},
};

} // namespace

const TestDefinition kSerology{
    .investigation = &catalogue::kSerology,
    .items = kSerologyItems,
    .box_count = 7,
    .lookup_count = 7,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = true,
    .sections = kOneSection,
};

const TestDefinition kWidalTest{
    .investigation = &catalogue::kWidalTest,
    .items = kWidalItems,
    .box_count = 4,
    .lookup_count = 4,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = true,
    .sections = kOneSection,
};
