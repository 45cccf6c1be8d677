#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// How the laboratory's screens read a number out of a text box: blanks, tabs
// and line feeds are ignored wherever they stand; then an optional sign,
// digits, an optional decimal point with digits and an optional exponent are
// read up to the first other character. "&H" and "&O" introduce a hexadecimal
// or an octal number. A text without a number reads as 0.
double number_value(const QString& text);

// The number in plain decimal notation: 7, not 7.0 or 007 or 7e0.
QString plain_number(double value);

// A number ready to bind to SQL: a whole number binds as an integer (so it
// matches INTEGER keys exactly), anything else as a real.
QVariant key_value(double value);

// The number value of a typed id, ready to bind: a whole number is read
// exactly (no rounding through a floating-point value) up to the 64-bit
// limit, anything else as number_value reads it. A whole number beyond the
// 64-bit limit is no id at all: nullopt.
std::optional<QVariant> id_value(const QString& text);
// The same value in plain decimal notation, for a selection formula.
QString id_text(const QVariant& id);

// A number typed where only a whole number makes sense (a patient number):
// digits only once the surrounding blanks are dropped, within 64 bits;
// anything else, the empty text included, is nullopt.
std::optional<qint64> whole_number(const QString& text);
