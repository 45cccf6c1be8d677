#include "selection_formula.h"

#include "number_value.h"

#include <QRegularExpression>

ParsedSelection parse_selection_formula(const QString& formula) {
    static const QRegularExpression shape(QStringLiteral(
        R"(^\s*\{\s*([A-Za-z_][A-Za-z0-9_]*)\s*\.\s*([A-Za-z_][A-Za-z0-9_]*)\s*\}\s*=\s*([-+]?\d+(?:\.\d+)?)\s*$)"));
    const QRegularExpressionMatch m = shape.match(formula);
    if (!m.hasMatch())
        return {std::nullopt,
                QStringLiteral("the selection formula \"%1\" is not of the form {table.field} = number")
                    .arg(formula)};
    const auto value = id_value(m.captured(3));
    if (!value)
        return {std::nullopt,
                QStringLiteral("the number %1 of the selection formula is too large").arg(m.captured(3))};
    return {Selection{m.captured(1), m.captured(2), *value}, {}};
}
