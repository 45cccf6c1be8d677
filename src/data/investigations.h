#pragma once

#include <optional>

#include <QString>

#include <span>

// The laboratory's twelve investigations: one row each, with every name the
// program knows it by. The screens (src/investigations), the menu, the record
// operations, the report engine and the admin tool all find a test here, and
// the record operations accept no other test table.
struct Investigation {
    const char* table;              // its own table of results, spelt as the schema spells it
    const char* test;               // test_main.test of its reports, and its screen's title
    const char* list;               // the test name as its Show all list spells it
    const char* screen;             // the screen's name, as the menu opens it
    const char* report_file;        // plain paper, appended to the program folder
    const char* header_report_file; // letter-head
    const char* consolidated_name;  // temp.test_table of its rows in the consolidated report
    bool prints_separately;         // never part of the consolidated report
};

namespace catalogue {

inline constexpr Investigation kCulture{
    "culture_and_antibiotic_sensitivity_pattern",       "Culture and Antibiotic sensitivity pattern",
    "culture and antibiotic sensitivity pattern",       "culture_and_antibiotic_sensitivity_pattern",
    "\\culture_and_antibiotic_sensitivity_pattern.rpt", "\\h_culture_and_antibiotic_sensitivity_pattern.rpt",
    "Culture_and_Antibiotic_sensitivity_pattern",       true};
inline constexpr Investigation kPeripheralBloodSmear{
    "peripheral_blood_smear",       "Peripheral blood smear",
    "peripheral blood smear",       "Peripheral_blood_smear",
    "\\peripheral_blood_smear.rpt", "\\h_peripheral_blood_smear.rpt",
    "Peripheral_blood_smear",       true};
inline constexpr Investigation kBiochemistryReport{
    "biochemistry_report",       "Biochemistry report",         "Biochemistry report", "biochemistry_report",
    "\\biochemistry_report.rpt", "\\h_biochemistry_report.rpt", "Biochemistry_report", false};
inline constexpr Investigation kBloodSugarReport{
    "blood_sugar_report",       "Blood sugar report",         "Blood sugar report", "Blood_sugar_report",
    "\\blood_sugar_report.rpt", "\\h_blood_sugar_report.rpt", "Blood_sugar_report", false};
inline constexpr Investigation kUrinalysis{
    "urinalysis",       "Urinalysis",         "Urinalysis", "Urinalysis",
    "\\urinalysis.rpt", "\\h_urinalysis.rpt", "Urinalysis", false};
inline constexpr Investigation kRoutineHaemotology{
    "Routine_haemotology",       "Routine haemotology",         "Routine haemotology", "Routine_haemotology",
    "\\routine_haemotology.rpt", "\\h_routine_haemotology.rpt", "Routine_haemotology", false};
inline constexpr Investigation kThyroidHormoneProfile{
    "Thyroid_hormone_profile",       "Thyroid hormone profile",
    "Thyroid hormone profile",       "Thyroid_hormone_profile",
    "\\Thyroid_hormone_profile.rpt", "\\h_Thyroid_hormone_profile.rpt",
    "Thyroid_hormone_profile",       false};
inline constexpr Investigation kSerology{"Serology",       "Serology",          "Serology", "Serology",
                                         "\\Serology.rpt", "\\h_ serology.rpt", "Serology", false};
inline constexpr Investigation kStoolRoutine{
    "stool_routine",       "Stool routine",         "stool routine", "stool_routine",
    "\\stool_routine.rpt", "\\h_stool_routine.rpt", "Stool_routine", false};
inline constexpr Investigation kRbcIndices{
    "RBC_indices",       "RBC indices",         "RBC indices", "RBC_indices",
    "\\RBC_indices.rpt", "\\h_RBC_indices.rpt", "RBC_indices", false};
inline constexpr Investigation kWidalTest{
    "widal_test",       "Widal test",         "Widal test", "widal_test",
    "\\widal_test.rpt", "\\h_widal_test.rpt", "Widal_test", false};
inline constexpr Investigation kProthrombinTime{
    "prothrombin_time",       "Prothrombin time",         "prothrombin time", "prothrombin_time",
    "\\prothrombin_time.rpt", "\\h_prothrombin_time.rpt", "Prothrombin_time", false};

// The twelve, in the order of the menu's regions.
inline constexpr const Investigation* kAll[] = {
    &kCulture,
    &kPeripheralBloodSmear,
    &kBiochemistryReport,
    &kBloodSugarReport,
    &kUrinalysis,
    &kRoutineHaemotology,
    &kThyroidHormoneProfile,
    &kSerology,
    &kStoolRoutine,
    &kRbcIndices,
    &kWidalTest,
    &kProthrombinTime,
};

// What is collected for a test: one labelled tube or container per kind
// an order asks for.
enum class SampleKind { Blood, Serum, Urine, Stool, Swab, Smear };

struct Sampling {
    const Investigation* test;
    SampleKind sample;
    const char* short_name; // on the sample's label and the orders list
};

// Each test's sample and short name, in the order of kAll.
inline constexpr Sampling kSampling[] = {
    {&kCulture, SampleKind::Swab, "CULT"},
    {&kPeripheralBloodSmear, SampleKind::Smear, "PBS"},
    {&kBiochemistryReport, SampleKind::Serum, "BIOCHEM"},
    {&kBloodSugarReport, SampleKind::Blood, "SUGAR"},
    {&kUrinalysis, SampleKind::Urine, "URINE"},
    {&kRoutineHaemotology, SampleKind::Blood, "CBC"},
    {&kThyroidHormoneProfile, SampleKind::Serum, "TFT"},
    {&kSerology, SampleKind::Serum, "SERO"},
    {&kStoolRoutine, SampleKind::Stool, "STOOL"},
    {&kRbcIndices, SampleKind::Blood, "RBC-IND"},
    {&kWidalTest, SampleKind::Serum, "WIDAL"},
    {&kProthrombinTime, SampleKind::Blood, "PT"},
};

const Sampling& sampling(const Investigation* test);
// "blood", "serum", "urine", "stool", "swab/pus", "smear".
QString sample_name(SampleKind kind);
std::optional<SampleKind> sample_named(const QString& name);

// By its table, without regard to case (as the database resolves table names).
const Investigation* by_table(const QString& table);
// By a report's test name, without regard to case: the name test_main holds,
// or the name its rows carry in the consolidated report.
const Investigation* by_test(const QString& test);
// By its screen's name, exactly.
const Investigation* by_screen(const QString& screen);

} // namespace catalogue
