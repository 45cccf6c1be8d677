// Haematology: routine haemotology with its unit texts, RBC indices and
// prothrombin time.
#include "catalogue_parts.h"

namespace {

constexpr ResultItem kRoutineItems[] = {
    {"Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ", " gm/dl", 0, 1, 1, false, false,
     by_sex(12, 16, 11, 15)},
    {"WBC (N : 4000 to 10,000 / cumm)", " /cumm", 0, 1, 2, false, false, between(4000, 10000)},
    {"Polymorphs", "%", 0, 1, 3},
    {"Lymphocytes", "%", 0, 1, 4},
    {"Eosinophills", "%", 0, 1, 5},
    {"Monocytes", "%", 0, 1, 6},
    {"Basophills", "%", 0, 1, 7},
    {"Blasts", "%", 0, 1, 8},
    {"Promyelocytes", "%", 0, 1, 9},
    {"Myelocytes", "%", 0, 1, 10},
    {"Metamyelocytes", "%", 0, 1, 11},
    {"Band forms", "%", 0, 1, 12},
    {"ESR (Westergren's) N : M 2-10; F 2 - 15 Half hour", " mm", 0, 2, 1, false, false, by_sex(2, 10, 2, 15)},
    {"ESR (Westergren's) N : M 2-10; F 2 - 15 One hour", " mm", 0, 2, 2, false, false, by_sex(2, 10, 2, 15)},
    {"Platelet count (N : 1,40,000 - 4,40,000/- cumm)", " /cumm", 0, 2, 3, false, false,
     between(140000, 440000)},
    {"Smear for Malarial parasite / filarial parasite", " ", 0, 2, 4},
    {"Absolute Eosinophilcount (N : 40 - 440 / cumm)", " /cumm", 0, 2, 5, false, false, between(40, 440)},
    {"Blood group   Rh factor", " ", 0, 2, 6},
    {"RBC count (N : male 4.5 - 5.5 million n/cumm; Female 3.5 - 4.5 million/cumm)", " m/cumm", 0, 2, 7,
     false, false, by_sex(4.5, 5.5, 3.5, 4.5)},
    {"Packed call volume", " ", 0, 2, 8},
    {"Normal range (32 - 48%)", " ", 0, 2, 9},
    {"Serum IGE levels N : 0 - 120)", " ", 0, 2, 10, false, false, between(0, 120)},
};

constexpr const char* kRoutineUnits[] = {"", "gm/dl", "%", "mm", "/cumm", "m/cumm"};

constexpr ResultItem kRbcItems[] = {
    {"Mean cell volume (N : 80 - 97)", "", 0, 1, 1, false, false, between(80, 97)},
    {"Mean cell haemoglobin (N : 26.5 - 33.5)", "", 0, 1, 2, false, false, between(26.5, 33.5)},
    {"Mean cell haemoglobin concentration         (N : 31.5 - 35.0)", "", 0, 1, 3, false, false,
     between(31.5, 35.0)},
};

constexpr ResultItem kProthrombinItems[] = {
    {"Test", "", 0, 1, 1},
    {"Control", "", 0, 1, 2},
    {"Index", "", 0, 1, 3},
};

} // namespace

const TestDefinition kRoutineHaemotology{
    .screen = "Routine_haemotology",
    .caption = "Routine haemotology",
    .table = "Routine_haemotology",
    .items = kRoutineItems,
    .box_count = 22,
    .lookup_count = 22,
    .max_length = 29,
    .empty_texts = kRoutineUnits,
    .missing_name_message = kImportantDataNotGiven,
    .report_file = "\\routine_haemotology.rpt",
    .header_report_file = "\\h_routine_haemotology.rpt",
    .print_before_doctor = true,
    .show_save_errors = false,
    .list_test_name = "Routine haemotology",
    .sections = kOneSection,
};

const TestDefinition kRbcIndices{
    .screen = "RBC_indices",
    .caption = "RBC indices",
    .table = "RBC_indices",
    .items = kRbcItems,
    .box_count = 3,
    .lookup_count = 3,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .report_file = "\\RBC_indices.rpt",
    .header_report_file = "\\h_RBC_indices.rpt",
    .print_before_doctor = true,
    .show_save_errors = true,
    .list_test_name = "RBC indices",
    .sections = kOneSection,
};

const TestDefinition kProthrombinTime{
    .screen = "prothrombin_time",
    .caption = "Prothrombin time",
    .table = "prothrombin_time",
    .items = kProthrombinItems,
    .box_count = 3,
    .lookup_count = 3,
    .max_length = 29,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .report_file = "\\prothrombin_time.rpt",
    .header_report_file = "\\h_prothrombin_time.rpt",
    .print_before_doctor = true,
    .show_save_errors = true,
    .list_test_name = "prothrombin time",
    .sections = kOneSection,
};
