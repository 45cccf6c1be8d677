#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <initializer_list>
#include <utility>

// The escape sequences ASTM (LIS2-A2) and HL7 v2 both write inside a field:
// ESC code ESC, where a one-letter code stands for one of the message's own
// delimiters and Xhh.. for bytes in hex. Each standard names its letters.
struct EscapeLetter {
    char code;      // F, S, R, E, T
    char delimiter; // the character it stands for in this message
};

// `text` with its escape sequences replaced; a sequence that is none of
// these is kept as written (`keep_unknown`) or dropped.
QByteArray unescape(const QByteArray& text, char escape, std::initializer_list<EscapeLetter> letters,
                    bool keep_unknown);

// `text` with every line end (CR LF, or a lone LF) made the CR both standards
// end their records and segments with: instruments and the files they write
// end lines every way.
QByteArray with_cr_line_ends(QByteArrayView text);
