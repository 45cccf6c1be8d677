#include "csv_export.h"

#include "failure_messages.h"
#include "message_box.h"
#include "schema_setup.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressDialog>
#include <QSaveFile>

QString csv_line(const QStringList& fields) {
    QStringList quoted;
    quoted.reserve(fields.size());
    for (QString f : fields)
        quoted << u'"' + f.replace(u'"', QLatin1String("\"\"")) + u'"';
    return quoted.join(u',') + QLatin1String("\r\n");
}

QString csv_cell(const QString& value) {
    // A spreadsheet runs a cell that starts like a formula: such a cell goes
    // out as text, after an apostrophe, as spreadsheet guidance advises.
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    if (!value.isEmpty() && kFormulaStarts.contains(value[0])) return u'\'' + value;
    return value;
}

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
    file.write("\xEF\xBB\xBF");
    file.write(csv_line(headings).toUtf8());
    // The one ordered query, written as it is read; the window is painted
    // (and Cancel heard) every few thousand rows.
    QByteArray chunk;
    qint64 written = 0;
    bool cancelled = false;
    QStringList columns;
    const DbError e = read_list(list, columns, [&](const QStringList& row) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0) chunk += ',';
            chunk += '"';
            QByteArray cell = csv_cell(row[i]).toUtf8();
            if (cell.contains('"')) cell.replace("\"", "\"\"");
            chunk += cell;
            chunk += '"';
        }
        chunk += "\r\n";
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
