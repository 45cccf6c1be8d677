#include "escapes.h"

QByteArray unescape(const QByteArray& text, char escape, std::initializer_list<EscapeLetter> letters,
                    bool keep_unknown) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype end = text[i] == escape ? text.indexOf(escape, i + 1) : -1;
        if (end < 0) {
            out += text[i];
            continue;
        }
        const QByteArray code = text.mid(i + 1, end - i - 1);
        bool known = false;
        for (const EscapeLetter& l : letters)
            if (code.size() == 1 && code[0] == l.code) {
                out += l.delimiter;
                known = true;
            }
        if (!known && code.startsWith('X') && code.size() % 2 == 1) {
            out += QByteArray::fromHex(code.mid(1));
            known = true;
        }
        if (!known && keep_unknown) out += text.mid(i, end - i + 1);
        i = end;
    }
    return out;
}

QByteArray with_cr_line_ends(QByteArrayView text) {
    return text.toByteArray().replace("\r\n", "\r").replace('\n', '\r');
}
