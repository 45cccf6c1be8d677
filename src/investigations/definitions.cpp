#include "definition_parts.h"

namespace {

// In the catalogue's order (the menu's).
constexpr const TestDefinition* kCatalogue[] = {
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

} // namespace

std::span<const TestDefinition* const> test_catalogue() {
    return kCatalogue;
}

const TestDefinition& definition_of(const Investigation& test) {
    for (const TestDefinition* t : kCatalogue)
        if (t->investigation == &test) return *t;
    Q_UNREACHABLE(); // every row of the catalogue has its definition
}

const TestDefinition* test_for_screen(const QString& screen) {
    const Investigation* test = catalogue::by_screen(screen);
    return test ? &definition_of(*test) : nullptr;
}
