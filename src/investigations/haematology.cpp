// Haematology: routine haemotology with its unit texts, RBC indices and
// prothrombin time.
#include "definition_parts.h"

namespace {

constexpr ResultItem kRoutineItems[] = {
    {"Haemoglobin (N : Male : 12 - 16 gm/dl, Female : 11 - 15 gm/dl) ", " gm/dl", 0, 1, 1},
    {"WBC (N : 4000 to 10,000 / cumm)", " /cumm", 0, 1, 2},
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
    {"ESR (Westergren's) N : M 2-10; F 2 - 15 Half hour", " mm", 0, 2, 1},
    {"ESR (Westergren's) N : M 2-10; F 2 - 15 One hour", " mm", 0, 2, 2},
    {"Platelet count (N : 1,40,000 - 4,40,000/- cumm)", " /cumm", 0, 2, 3},
    {"Smear for Malarial parasite / filarial parasite", " ", 0, 2, 4},
    {"Absolute Eosinophilcount (N : 40 - 440 / cumm)", " /cumm", 0, 2, 5},
    {"Blood group   Rh factor", " ", 0, 2, 6},
    {"RBC count (N : male 4.5 - 5.5 million n/cumm; Female 3.5 - 4.5 million/cumm)", " m/cumm", 0, 2, 7},
    {"Packed call volume", " ", 0, 2, 8},
    {"Normal range (32 - 48%)", " ", 0, 2, 9},
    {"Serum IGE levels N : 0 - 120)", " ", 0, 2, 10},
};

constexpr const char* kRoutineUnits[] = {"", "gm/dl", "%", "mm", "/cumm", "m/cumm"};

constexpr ResultItem kRbcItems[] = {
    {"Mean cell volume (N : 80 - 97)", "", 0, 1, 1},
    {"Mean cell haemoglobin (N : 26.5 - 33.5)", "", 0, 1, 2},
    {"Mean cell haemoglobin concentration         (N : 31.5 - 35.0)", "", 0, 1, 3},
};

constexpr ResultItem kProthrombinItems[] = {
    {"Test", "", 0, 1, 1},
    {"Control", "", 0, 1, 2},
    {"Index", "", 0, 1, 3},
};

} // namespace

const TestDefinition kRoutineHaemotology{
    .investigation = &catalogue::kRoutineHaemotology,
    .items = kRoutineItems,
    .box_count = 22,
    .lookup_count = 22,
    .max_length = 29,
    .empty_texts = kRoutineUnits,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = false,
    .sections = kOneSection,
};

const TestDefinition kRbcIndices{
    .investigation = &catalogue::kRbcIndices,
    .items = kRbcItems,
    .box_count = 3,
    .lookup_count = 3,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = true,
    .sections = kOneSection,
};

const TestDefinition kProthrombinTime{
    .investigation = &catalogue::kProthrombinTime,
    .items = kProthrombinItems,
    .box_count = 3,
    .lookup_count = 3,
    .max_length = 29,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = true,
    .sections = kOneSection,
};
