#pragma once

#include "investigations.h"
#include "twips.h"

#include <algorithm>
#include <utility>
#include <vector>

// The click regions of the main menu picture, in twips from its top-left
// corner (every bound exclusive). The picture is painted from these tables, so
// each name always lies inside its own region.

struct MenuRegion {
    const char* screen; // the screen the region opens
    const char* label;  // the name drawn on the picture
    Region region;
};

// Tested first, with the exact pointer position: these close the menu.
inline constexpr MenuRegion kRegistrationRegion{"patient_reg", "registration", {4500, 5800, 4700, 5000}};
inline constexpr MenuRegion kUtilityRegion{"utility", "Utility", {2900, 3600, 4700, 5000}};

// The test names, tested in this order against the stored point; the first
// match wins. Each opens the screen of its row of the catalogue.
inline constexpr MenuRegion kTestRegions[] = {
    {catalogue::kCulture.screen, "Culture & Antibiotic sensitivity", {4000, 8250, 200, 650}},
    {catalogue::kPeripheralBloodSmear.screen, "Peripheral blood smear", {5400, 8100, 1200, 1630}},
    {catalogue::kBiochemistryReport.screen, "Biochemistry", {2800, 5400, 600, 1100}},
    {catalogue::kBloodSugarReport.screen, "Blood sugar", {300, 2350, 900, 1250}},
    {catalogue::kUrinalysis.screen, "Urinalysis", {400, 1900, 1600, 2000}},
    {catalogue::kRoutineHaemotology.screen, "Routine haemotology", {400, 2600, 250, 600}},
    {catalogue::kThyroidHormoneProfile.screen, "Thyroid hormone profile", {2900, 5700, 1600, 2100}},
    {catalogue::kSerology.screen, "Serology", {300, 1700, 4000, 4300}},
    {catalogue::kStoolRoutine.screen, "Stool routine", {3100, 5000, 3100, 3400}},
    {catalogue::kRbcIndices.screen, "RBC indices", {350, 1750, 2900, 3250}},
    {catalogue::kWidalTest.screen, "Widal test", {3300, 4600, 4000, 4350}},
    {catalogue::kProthrombinTime.screen, "Prothrombin time", {5900, 8100, 3300, 3600}},
};

// Every region of the picture (the tests, registration and Utility) in
// reading order: in bands of 500 twips from the top, left to right in each.
inline std::vector<const MenuRegion*> menu_reading_order() {
    std::vector<const MenuRegion*> order{&kRegistrationRegion, &kUtilityRegion};
    for (const MenuRegion& r : kTestRegions)
        order.push_back(&r);
    std::stable_sort(order.begin(), order.end(), [](const MenuRegion* a, const MenuRegion* b) {
        return std::pair(a->region.y_min / 500, a->region.x_min) <
               std::pair(b->region.y_min / 500, b->region.x_min);
    });
    return order;
}

// The test screen whose region holds the point, or nullptr.
inline const MenuRegion* test_region_at(int x, int y) {
    for (const MenuRegion& r : kTestRegions)
        if (r.region.contains(x, y)) return &r;
    return nullptr;
}
