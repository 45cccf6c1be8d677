#include "catalogue_parts.h"

namespace {

// In the order of the menu's regions.
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

const TestDefinition* test_for_screen(const QString& screen) {
    for (const TestDefinition* t : kCatalogue)
        if (screen == QLatin1String(t->screen)) return t;
    return nullptr;
}
