#pragma once

#include "report_request.h"

#include <QString>

#include <optional>

// The one record-selection formula people write (in report files and on the
// admin tool's command line): "{table.field} = number", blanks allowed around
// each part, any letter case in the names. Anything else (a second clause,
// quotes, text values) is refused.

// The formula read, or the reason it cannot be.
struct ParsedSelection {
    std::optional<Selection> selection;
    QString error;
};

ParsedSelection parse_selection_formula(const QString& formula);
