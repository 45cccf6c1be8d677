#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// The one record-selection formula the engine accepts: "{table.field} = number",
// blanks allowed around each part, any letter case in the names. Anything
// else (a second clause, quotes, text values) is refused.
struct Selection {
    QString table; // as written in the formula
    QString field;
    QVariant value; // a whole number binds as an integer
};

// The formula read, or the reason it cannot be.
struct ParsedSelection {
    std::optional<Selection> selection;
    QString error;
};

ParsedSelection parse_selection_formula(const QString& formula);
