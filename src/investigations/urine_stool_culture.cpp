// Urinalysis, stool routine, and culture with its antibiotic sensitivity pattern.
#include "definition_parts.h"

namespace {

constexpr ResultItem kUrinalysisItems[] = {
    {"Quantity", "", 0, 1, 2},
    {"Specific gravity", "", 0, 1, 3},
    {"Reaction / PH", "", 0, 1, 4},
    {"Albumin", "", 0, 1, 5},
    {"Sugar", "", 0, 1, 6},
    {"Ketone bodies", "", 0, 1, 7},
    {"Bile salts", "", 0, 1, 8},
    {"Bile pigments", "", 0, 1, 9},
    {"Urobilinogen", "", 0, 1, 10},
    {"Pus cells", " /hpf", 0, 2, 2},
    {"Epithelial cells", " /hpf", 0, 2, 3},
    {"RBC's", " /hpf", 0, 2, 4},
    {"Organisms", " /hpf", 0, 2, 5},
    {"Casts", " /hpf", 0, 2, 6},
    {"Crystalloids", " /hpf", 0, 2, 7},
    {"Others", " /hpf", 0, 2, 8},
    {"Micro Albuminuria (0 - 20 mg/L)", "", 0, 2, 9},
};

constexpr const char* kUrinalysisEmpty[] = {"", "/hpf"};
constexpr SectionNote kMicroscopyHeading[] = {{"Label7", "MICROSCOPY", 0, 2, 1}};

// The eighth box stands below the right column, disabled, and never holds a result.
constexpr ResultItem kStoolItems[] = {
    {"Consistency", "", 0, 1, 1},  {"Colour", "", 0, 1, 2},         {"Blood", "", 0, 1, 3},
    {"Mucus", "", 0, 1, 4},        {"Ova cyst", "", 0, 2, 1},       {"Pus cells", "", 0, 2, 2},
    {"Occult blood", "", 0, 2, 3}, {" ", "", 0, 2, 4, false, true},
};

// The specimen in wide boxes above; the antibiotics in four columns of seven,
// the last place taken by a disabled box without caption.
constexpr ResultItem kCultureItems[] = {
    {"Material", "", 0, 1, 1, true},
    {"Direct smear : Gram stain", "", 0, 1, 2, true},
    {"Culture yields : Growth :     Heavy/medium/few colonies", "", 0, 2, 1, true},
    {"Colony count", "", 0, 2, 2, true},
    {"AMIKACIN", "", 1, 1, 1},
    {"AMOXYCILLIN", "", 1, 1, 2},
    {"AMPICILLIN", "", 1, 1, 3},
    {"AUGMENTIN", "", 1, 1, 4},
    {"CEPHALEXIN", "", 1, 1, 5},
    {"CEFUROXIME", "", 1, 1, 6},
    {"CEFOTAXIME", "", 1, 1, 7},
    {"CEFTAZIDIME", "", 1, 2, 1},
    {"CEFTRIAXONE", "", 1, 2, 2},
    {"CEFEPERAZONE / SULBACTUM", "", 1, 2, 3},
    {"CHLORAMPHENICOL", "", 1, 2, 4},
    {"CIPROFLOXACIN", "", 1, 2, 5},
    {"CLOXACILLIN", "", 1, 2, 6},
    {"CO-TRIMOXAZOLE", "", 1, 2, 7},
    {"ERTHROMYCIN", "", 1, 3, 1},
    {"FURAZOLIDINE", "", 1, 3, 2},
    {"GENTAMICIN", "", 1, 3, 3},
    {"NALIDIXIC ACID", "", 1, 3, 4},
    {"NETILMICIN", "", 1, 3, 5},
    {"NITROFURANTOIN", "", 1, 3, 6},
    {"NORFLOXACIN", "", 1, 3, 7},
    {"OFLOXACIN", "", 1, 4, 1},
    {"PEFLOXACIN", "", 1, 4, 2},
    {"PENICILLIN", "", 1, 4, 3},
    {"ROXITHROMYCIN", "", 1, 4, 4},
    {"VANCOMYCIN", "", 1, 4, 5},
    {"GATIFLOXACIN", "", 1, 4, 6},
    {"", "", 1, 4, 7, false, true},
};

constexpr ResultSection kCultureSections[] = {{"Frame2"}, {"Frame3", "Antibiotic sensitivity"}};
constexpr SectionNote kSensitivityLegend[] = {{"Label7", "R : Resistant       S : Sensitive", 1, 1, 8}};

} // namespace

const TestDefinition kUrinalysis{
    .investigation = &catalogue::kUrinalysis,
    .items = kUrinalysisItems,
    .box_count = 17,
    .lookup_count = 17,
    .max_length = 19,
    .empty_texts = kUrinalysisEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = false,
    .sections = kOneSection,
    .notes = kMicroscopyHeading,
};

const TestDefinition kStoolRoutine{
    .investigation = &catalogue::kStoolRoutine,
    .items = kStoolItems,
    .box_count = 7,
    .lookup_count = 7,
    .max_length = 49,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = true,
    .sections = kOneSection,
};

const TestDefinition kCulture{
    .investigation = &catalogue::kCulture,
    .items = kCultureItems,
    .box_count = 31,
    .lookup_count = 32,
    .max_length = 199,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = false,
    .show_save_errors = false,
    .sections = kCultureSections,
    .notes = kSensitivityLegend,
};
