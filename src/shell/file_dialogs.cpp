#include "file_dialogs.h"

#include <QApplication>
#include <QFileDialog>

namespace {

SaveFileHandler& handler() {
    static SaveFileHandler h;
    return h;
}

} // namespace

QString choose_save_file(const QString& caption, const QString& suggested_path, const QString& filter) {
    if (handler()) return handler()(caption, suggested_path);
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, suggested_path, filter);
}

SaveFileHandler set_save_file_handler(SaveFileHandler h) {
    SaveFileHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}
