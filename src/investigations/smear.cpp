// The peripheral blood smear: four findings in words, filled from nine
// standard wordings that the user steps through and edits.
#include "definition_parts.h"

namespace {

#define R1 "are normocytic and normochromic. No evidence of haemolysis observed."
#define W1 "are normal in number, morphology and distribution. No abnormal cells seen."
#define P1 "are adequate in number and normal in morphology. Haemoparasites not seen."

// R.B.C., W.B.C., Platelets, Impression.
constexpr FindingTemplate kTemplates[] = {
    {{R1, W1, P1, "Normocytic Normochromic blood picture"}},
    {{R1, "are increased in number, normal in morphology and distribution. No abnormal cells seen.", P1,
      "Normocytic normochromic Blood picture with leucocytosis."}},
    {{R1,
      "are normal in number and morphology. Increase in mature neutrophills seen. No abnormal cells seen.",
      P1, "Normocytic Normochromic Blood picture with Neutrophilic predominence."}},
    {{R1, "are normal in number and morphology. Increase in eosinophills seen. No abnormal cells seen.", P1,
      "Normocytic Normochromic Blood picture with Eosinophilia."}},
    {{R1,
      "are increased in number, normal in morphology. Increase in mature neutrophills seen. No abnormal "
      "cells "
      "seen.",
      P1, "Normocytic Normochromic Blood picture with Neutrophilic Leucocytosis."}},
    {{R1, "are normal in number and morphology. Increase in lympocytes seen. No abnormal cells seen.", P1,
      "Normocytic Normochromic Blood picture with lympocytic predominence."}},
    {{"are normocytic and hypochromic. No evidence of haemolysis observed.", W1, P1,
      "Normocytic Hypochromic Blood picture."}},
    {{"are normocytic and mildly hypochromic. No evidence of haemolysis observed.", W1, P1,
      "Normocytic mildly Hypochromic Blood picture."}},
    {{"are microcytic and Hypochromic. No evidence of haemolysis observed. Mild to moderate degree of "
      "anisopoikilocytosis seen.",
      W1, P1, "Microcytic Hypochromic Blood picture."}},
};

#undef R1
#undef W1
#undef P1

// The boxes open with template 1.
constexpr ResultItem kSmearItems[] = {
    {"R.B.C.", kTemplates[0].texts[0], 0, 1, 1},
    {"W.B.C.", kTemplates[0].texts[1], 0, 1, 2},
    {"Platelets", kTemplates[0].texts[2], 0, 1, 3},
    {"Impression", kTemplates[0].texts[3], 0, 1, 4},
};

constexpr ResultSection kMicroscopy[] = {{"Frame2", "Microscopy"}};

} // namespace

const TestDefinition kPeripheralBloodSmear{
    .investigation = &catalogue::kPeripheralBloodSmear,
    .items = kSmearItems,
    .box_count = 4,
    .lookup_count = 4,
    .max_length = 245,
    .empty_texts = kOnlyEmpty,
    .missing_name_message = kImportantDataNotGiven,
    .print_before_doctor = false,
    .show_save_errors = false,
    .sections = kMicroscopy,
    .templates = kTemplates,
    .box_name = "text1",
    .multi_line_boxes = true,
    .store_every_box = true,
    .clear_keeps_results = true,
    .empty_report_message = kImportantDataNotGiven,
};
