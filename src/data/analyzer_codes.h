#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// analyzer_codes.tsv beside the program, edited by the laboratory like the
// report files: which box of which test screen each analyzer code fills.
// A header line "code<TAB>test<TAB>item<TAB>unit", then one line per code:
// the analyzer's code, the test as its screen is titled, the item's caption
// as the screen shows it, and optionally a unit to write after the value
// (where the box does not show one already). "#" starts a comment.

inline constexpr char kAnalyzerCodesFileName[] = "analyzer_codes.tsv";

struct CodeMapping {
    int line = 0; // in the file, from 1
    QString code, test, item, unit;
};

struct AnalyzerCodes {
    QList<CodeMapping> mappings;
    QStringList problems; // "line N: why", for lines that are not a mapping
};

// Reads a codes file; a missing file has no mappings and says so.
AnalyzerCodes read_analyzer_codes(const QString& path);
// The program folder's codes file.
QString analyzer_codes_path();
