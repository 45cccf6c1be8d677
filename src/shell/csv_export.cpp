#include "csv_export.h"

#include "failure_messages.h"
#include "message_box.h"

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

bool export_list_csv(QWidget* parent, const ListQuery& list, const QStringList& headings,
                     const QString& path) {
    constexpr int kChunk = 2000;
    auto keys = list_keys(list);
    if (report_failure(keys.error, QStringLiteral("Saving the list"))) return false;
    QSaveFile file(path); // written beside, renamed over the file only when complete
    if (!file.open(QIODevice::WriteOnly)) {
        show_message(QStringLiteral("The file %1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    QProgressDialog progress(QStringLiteral("Saving the list as CSV..."), QStringLiteral("Cancel"), 0,
                             int(keys.value.size()), parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    file.write("\xEF\xBB\xBF");
    file.write(csv_line(headings).toUtf8());
    for (qsizetype at = 0; at < keys.value.size(); at += kChunk) {
        progress.setValue(int(at));
        QCoreApplication::processEvents();
        if (progress.wasCanceled()) {
            file.cancelWriting();
            return false;
        }
        auto rows = list_rows(list, keys.value.mid(at, kChunk));
        if (report_failure(rows.error, QStringLiteral("Saving the list"))) {
            file.cancelWriting();
            return false;
        }
        QByteArray chunk;
        for (const QStringList& row : rows.value.rows)
            chunk += csv_line(row).toUtf8();
        file.write(chunk);
    }
    progress.setValue(int(keys.value.size()));
    if (!file.commit()) {
        show_message(QStringLiteral("The file %1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}
