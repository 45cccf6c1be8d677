#pragma once

#include "investigations.h"

#include <QString>

#include <span>

// One laboratory test as its screen runs it. Every test screen is the one
// generic TestScreen; what differs between the twelve tests is written here
// as data, one constant definition per test.

// One result item: its box Text1(index) and its caption Label1(index).
struct ResultItem {
    const char* caption;           // stored verbatim as the item's name, blanks included
    const char* initial_text = ""; // what the box shows when the screen opens
    int section = 0;               // the part of the result area it stands in
    int column = 1;                // place in that part, from 1
    int row = 1;
    bool wide = false;     // a wide box (free-text specimen details)
    bool disabled = false; // shown but never holds a result
};

// A part of the result area: a frame with an optional title. On screens with
// pages, each part belongs to one page and one page is shown at a time.
struct ResultSection {
    const char* frame;
    const char* title = "";
    int page = 0; // 0: no pages
};

// A heading or legend inside a part of the result area (Label7).
struct SectionNote {
    const char* name;
    const char* text;
    int section, column, row;
};

// One of the standard wordings a screen steps through with its arrows; one
// text per result item.
struct FindingTemplate {
    const char* texts[4];
};

struct TestDefinition {
    const Investigation* investigation; // its row of the catalogue: names, table, report files
    std::span<const ResultItem> items;
    int box_count;                            // boxes 0..box_count-1 are checked, saved, modified and cleared
    int lookup_count;                         // a stored row is matched against captions 0..lookup_count-1
    int max_length;                           // longest result text accepted
    std::span<const char* const> empty_texts; // texts that, trimmed, count as empty
    const char* missing_name_message;
    bool print_before_doctor;
    bool show_save_errors;
    std::span<const ResultSection> sections;
    std::span<const SectionNote> notes = {};

    // Departures of the peripheral smear screen: multi-line finding boxes named
    // text1, standard wordings stepped through with arrows, a row stored for
    // every box, findings kept by Clear, and its own message for an empty report.
    std::span<const FindingTemplate> templates = {};
    const char* box_name = "Text1";
    bool multi_line_boxes = false;
    bool store_every_box = false;
    bool clear_keeps_results = false;
    const char* empty_report_message = "The report is empty";
};

// The twelve tests, in the order of the menu's regions (the catalogue's order).
std::span<const TestDefinition* const> test_catalogue();
// The definition of a row of the catalogue.
const TestDefinition& definition_of(const Investigation& test);
// The test whose screen has this name, or nullptr.
const TestDefinition* test_for_screen(const QString& screen);

inline constexpr char kImportantDataNotGiven[] = "Important data not given";
