#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// analyzer_codes.tsv beside the program, edited by the laboratory like the
// report files: which box of which test screen each analyzer code fills.
// A header line "code<TAB>test<TAB>item<TAB>unit" (and "<TAB>type" when a
// line gives one), then one line per code: the analyzer's code (one component
// of its test id, as the results keep it, or the whole test id with its
// components joined by "^"), the test as its screen is titled, the item's
// caption as the screen shows it, optionally a unit to write after the value
// (where the box does not show one already), and optionally the result type
// the box takes (the result's status, ASTM R-9 or HL7 OBX-11, or the last
// part of a test id longer than four: F for the final result over a
// preliminary or raw one). "#" starts a comment.

inline constexpr char kAnalyzerCodesFileName[] = "analyzer_codes.tsv";

struct CodeMapping {
    int line = 0; // in the file, from 1
    QString code, test, item, unit;
    QString type = {};
};

struct AnalyzerCodes {
    QList<CodeMapping> mappings;
    QStringList problems; // "line N: why", for lines that are not a mapping
};

// Reads a codes file; a missing file has no mappings and says so.
AnalyzerCodes read_analyzer_codes(const QString& path);
// The program folder's codes file.
QString analyzer_codes_path();
