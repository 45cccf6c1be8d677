#include "csv_export.h"

#include "failure_messages.h"
#include "message_box.h"
#include "schema_setup.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressDialog>
#include <QSaveFile>

namespace {

// One line: every field in double quotes, quotes inside doubled; a field that
// a spreadsheet would run as a formula (starting with =, +, -, @, a tab or a
// carriage return) goes out as text, after an apostrophe, as spreadsheet
// guidance advises.
void append_csv_line(QByteArray& out, const QStringList& fields) {
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        out += '"';
        if (!fields[i].isEmpty() && kFormulaStarts.contains(fields[i][0])) out += '\'';
        QByteArray cell = fields[i].toUtf8();
        if (cell.contains('"')) cell.replace("\"", "\"\"");
        out += cell;
        out += '"';
    }
    out += "\r\n";
}

} // namespace

bool export_list_csv(QWidget* parent, const ListQuery& list, const QStringList& headings,
                     const QString& path) {
    constexpr int kRowsBetweenPaints = 4000;
    QSaveFile file(path); // written beside, renamed over the file only when complete
    if (!file.open(QIODevice::WriteOnly)) {
        show_message(QStringLiteral("The file %1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    QProgressDialog progress(QStringLiteral("Saving the list as CSV..."), QStringLiteral("Cancel"), 0, 0,
                             parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    // The byte-order mark, the headings, then the one ordered query, written
    // as it is read; the window is painted (and Cancel heard) every few
    // thousand rows.
    QByteArray chunk("\xEF\xBB\xBF");
    append_csv_line(chunk, headings);
    qint64 written = 0;
    bool cancelled = false;
    const DbError e = read_list(list, [&](const QStringList& row) {
        append_csv_line(chunk, row);
        if (++written % kRowsBetweenPaints == 0) {
            file.write(chunk);
            chunk.clear();
            progress.setLabelText(QStringLiteral("Saving the list as CSV... %L1 rows").arg(written));
            QCoreApplication::processEvents();
            cancelled = progress.wasCanceled();
        }
        return !cancelled;
    });
    if (cancelled || report_failure(e, QStringLiteral("Saving the list"))) {
        file.cancelWriting();
        return false;
    }
    file.write(chunk);
    file.setPermissions(kPatientCopyMode); // patient data: not for everyone on the machine
    if (!file.commit()) {
        show_message(QStringLiteral("The file %1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}
