// Serology: the serology panel and the Widal test.
#include "catalogue_parts.h"

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
    .screen = "Serology",
    .caption = "Serology",
    .table = "Serology",
    .items = kSerologyItems,
    .box_count = 7,
    .lookup_count = 7,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .report_file = "\\Serology.rpt",
    .header_report_file = "\\h_ serology.rpt",
    .print_before_doctor = true,
    .show_save_errors = true,
    .list_test_name = "Serology",
    .sections = kOneSection,
};

const TestDefinition kWidalTest{
    .screen = "widal_test",
    .caption = "Widal test",
    .table = "widal_test",
    .items = kWidalItems,
    .box_count = 4,
    .lookup_count = 4,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .report_file = "\\widal_test.rpt",
    .header_report_file = "\\h_widal_test.rpt",
    .print_before_doctor = true,
    .show_save_errors = true,
    .list_test_name = "Widal test",
    .sections = kOneSection,
};
