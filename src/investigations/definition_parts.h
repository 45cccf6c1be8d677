#pragma once

// What the definition files share, and the definitions themselves, for the
// catalogue that lists them.
#include "definition.h"

inline constexpr const char* kOnlyEmpty[] = {""};
inline constexpr ResultSection kOneSection[] = {{"Frame2"}};

extern const TestDefinition kBloodSugarReport;
extern const TestDefinition kBiochemistryReport;
extern const TestDefinition kThyroidHormoneProfile;
extern const TestDefinition kRoutineHaemotology;
extern const TestDefinition kRbcIndices;
extern const TestDefinition kProthrombinTime;
extern const TestDefinition kPeripheralBloodSmear;
extern const TestDefinition kSerology;
extern const TestDefinition kWidalTest;
extern const TestDefinition kUrinalysis;
extern const TestDefinition kStoolRoutine;
extern const TestDefinition kCulture;
