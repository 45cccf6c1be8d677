#pragma once

#include <QString>

// The twelve test tables of the schema, each with the test name that
// test_main.test holds for its reports. The test catalogue names its tables
// from this list, and the record operations accept no other test table.
struct TestTable {
    const char* table;
    const char* test; // test_main.test of its reports
};

inline constexpr TestTable kTestTables[] = {
    {"blood_sugar_report", "Blood sugar report"},
    {"biochemistry_report", "Biochemistry report"},
    {"Thyroid_hormone_profile", "Thyroid hormone profile"},
    {"Routine_haemotology", "Routine haemotology"},
    {"RBC_indices", "RBC indices"},
    {"prothrombin_time", "Prothrombin time"},
    {"peripheral_blood_smear", "Peripheral blood smear"},
    {"Serology", "Serology"},
    {"widal_test", "Widal test"},
    {"urinalysis", "Urinalysis"},
    {"stool_routine", "Stool routine"},
    {"culture_and_antibiotic_sensitivity_pattern", "Culture and Antibiotic sensitivity pattern"},
};

// The list's spelling of a test table, matched without regard to case (as the
// database resolves table names); nullptr when `name` is none of the twelve.
inline const TestTable* test_table_named(const QString& name) {
    for (const TestTable& t : kTestTables)
        if (name.compare(QLatin1String(t.table), Qt::CaseInsensitive) == 0) return &t;
    return nullptr;
}
