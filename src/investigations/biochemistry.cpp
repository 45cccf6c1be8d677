// Biochemistry: the blood sugar report, the general biochemistry panel on two
// pages, and the thyroid hormone profile.
#include "definition_parts.h"

namespace {

constexpr ResultItem kBloodSugarItems[] = {
    {"Fasting blood glucose (N :60 - 100 mg/dl)", "", 0, 1, 1},
    {"Post-prandial blood glucose   (N : 70 - 140 mg/dl)", "", 0, 1, 2},
    {"Random blood glucose (N : 60 - 140 mg/dl)", "", 0, 1, 3},
    {"Fasting urine sugar", "", 0, 2, 1},
    {"Post-prandial urine sugar", "", 0, 2, 2},
    {"Random urine sugar", "", 0, 2, 3},
    {"Fasting urine ketones", "", 0, 3, 1},
    {"Post-prandial urine ketones", "", 0, 3, 2},
    {"Random urine ketones", "", 0, 3, 3},
    {"HbAIC (3.0 - 6.67%)", "", 0, 1, 4},
};

constexpr ResultItem kThyroidItems[] = {
    {"Triiodo Thyronine (T3) (N : 60 - 200 ng/dl)", "", 0, 1, 1},
    {"Thyroxine (T4) (N : 4.5 - 12.0 ug/dl)", "", 0, 1, 2},
    {"Thyroid stimulating hormone (TSH)         (N : 0.30 - 5.5 ulU/ml)", "", 0, 1, 3},
    {"Free Triiodo Thyronine (FT3) (N : 1.7 - 4.2)", "", 0, 1, 4},
    {"Free Thyroxine (FT4) (N : 0.70 - 1.80)", "", 0, 2, 1},
    {"Anti Thyroglobulin antibody (ATG) (negative Titre <= 1:100  Positive Titre >= 1:100)", "", 0, 2, 2},
    {"Anti microsomal antibody (AMA)  (negative Titre <= 1:100  Positive Titre >= 1:100)", "", 0, 2, 3},
};

// Two pages of two columns; the boxes open with the units of the layout,
// also where a unit does not match its item. The lipids are flagged on the
// side that matters only (a low cholesterol or a high HDL is no finding),
// and items whose caption gives no plain numeric range carry none.
constexpr ResultItem kBiochemistryItems[] = {
    {"Fasting blood Glucose (N : 60 - 100 mg/dl)", " mg/dl", 0, 1, 1},
    {"Post prandial blood glucose (N:70 - 140 mg/dl)", " mg/dl", 0, 1, 2},
    {"Random blood glucose (N:60-140 mg/dl)", " mg/dl", 0, 1, 3},
    {"Blood urea (N:15 - 45 mg/dl)", " mg/dl", 0, 1, 4},
    {"Blood urea Nitrogen (N: 6 - 20 mg/dl)", " mg/dl", 0, 1, 5},
    {"Serum Creatinine (N : 0.9 - 1.5 mg/dl)", " mg/dl", 0, 1, 6},
    {"Serum CPK (N:0-200 IU/L)", " IU/L", 0, 1, 7},
    {"Serum CPK - MB (N : 4 - 25 IU/L)", " IU/L", 0, 1, 8},
    {"Serum LDH (N : 70 - 240 IU/L)", " IU/L", 0, 1, 9},
    {"Serum Amylase (N : 35 - 140 IU/L)", " IU/L", 0, 1, 10},
    {"S.Acid Phosphatase : Total (N : 1-4 IU/L)", " IU/L", 0, 2, 1},
    {"S.Acid phosphatase : Prostatic Fraction (N:0.0 - 0.8 IU/L)", " IU/L", 0, 2, 2},
    {"Serum Calcium (N : 9 - 11 mg/dl)", " mg/dl", 0, 2, 3},
    {"S.Inorganic Phospharous (N : 2.5 - 4.8 mg/dl)", " mg/dl", 0, 2, 4},
    {"Serum Uric acid (N : 2.5 - 7.0 mg/dl)", " meq/L", 0, 2, 5},
    {"Serum sodium (N : 136 - 146 meq/L) ", " meq/L", 0, 2, 6},
    {"Serum Potassiun (N : 3.5 - 5.0 meq / L)", " meq/L", 0, 2, 7},
    {"Serum Chloride (N : 96 - 106 meq / L)", " meq/L", 0, 2, 8},
    {"Serum Iron (N : 60 - 150 ug/dl)", " ug/dl", 0, 2, 9},
    {"Serum total Iron binding capacity (N : 270 - 380 ug/dl)", " ug/dl", 0, 2, 10},
    {"S.Billirubin : Total (N : 0.2 - 1.0 mg/dl)", " mg/dl", 1, 1, 1},
    {"S.billirubin : Direct (N : 0.2 - 0.4 mg/dl)", " mg/dl", 1, 1, 2},
    {"S.G.O.T. (N : 5 - 40 U/L)", " U/L", 1, 1, 3},
    {"S.G.P.T (N: 5 - 35 U/L)", " U/L", 1, 1, 4},
    {"S.Alkaline Phoshatase (N:Adults 60-150IU/L & Children 150-147IU/L)", " U/L", 1, 1, 5},
    {"S.Protien : Total (N : 6.0 - 8.0 gm/dl)", " gm/dl", 1, 1, 6},
    {"S.Protien : Albumin (N : 3.2 - 5.5 gm/dl)", " gm/dl", 1, 1, 7},
    {"S.Protien : Globulin (N : 2.3 - 3.5 gm/dl)", " gm/dl", 1, 1, 8},
    {"Albumin / Globulin ration (N : 2:1)", " ", 1, 1, 9},
    {"Gamma GT (N : 5 - 47 IU/L)", " IU/L", 1, 1, 10},
    {"Appearance of refresh serum (Clear / Oplascent / Turbid)", " mg/dl", 1, 2, 1},
    {"Total Triglyceride (60 - 150 mg/dl)", " mg/dl", 1, 2, 2},
    {"Total Cholesterol (150 - 200 mg/dl)", " mg/dl", 1, 2, 3},
    {"High density lipoproteins (HDL) (30 - 70 mg/dl)", " mg/dl", 1, 2, 4},
    {"Low density lipoproteins (LDL) (upto 150 mg/dl)", " mg/dl", 1, 2, 5},
    {"Very low density lipoproteins (VLDL) (25 - 50 mg/dl)", " mg/dl", 1, 2, 6},
    {"Total Cholesterol / HDL ratio (Male upto 5 : 1 Female upto 4.5 : 1)", "", 1, 2, 7},
    {"Serum LP(a) Levels (N - upto 30 mg/dl)", " mg/dl", 1, 2, 8},
    {" ", " ", 1, 2, 9},
    {" ", " ", 1, 2, 10},
};

constexpr const char* kBiochemistryUnits[] = {"", "mg/dl", "ug/dl", "U/L", "IU/L", "gm/dl", "meq/L"};

constexpr ResultSection kBiochemistryPages[] = {
    {"Frame2", "", 1},
    {"Frame3",
     "--------- Liver Function Test(LFT) ---------------------------------------------Serum Lipid Profile",
     2},
};

} // namespace

const TestDefinition kBloodSugarReport{
    .investigation = &catalogue::kBloodSugarReport,
    .items = kBloodSugarItems,
    .box_count = 10,
    .lookup_count = 10,
    .max_length = 19,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = false,
    .show_save_errors = false,
    .sections = kOneSection,
};

const TestDefinition kBiochemistryReport{
    .investigation = &catalogue::kBiochemistryReport,
    .items = kBiochemistryItems,
    .box_count = 39,
    .lookup_count = 40,
    .max_length = 19,
    .empty_texts = kBiochemistryUnits,
    .missing_name_message = "Patient name not given",
    .print_before_doctor = false,
    .show_save_errors = false,
    .sections = kBiochemistryPages,
};

const TestDefinition kThyroidHormoneProfile{
    .investigation = &catalogue::kThyroidHormoneProfile,
    .items = kThyroidItems,
    .box_count = 7,
    .lookup_count = 7,
    .max_length = 49,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = true,
    .show_save_errors = false,
    .sections = kOneSection,
};
