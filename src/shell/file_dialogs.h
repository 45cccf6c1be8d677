#pragma once

#include <QString>

#include <functional>

// The program's file pickers. Tests put their own handler in place of the
// real dialog, as they do for message boxes.

// Asks where to save a file; empty when the user cancels.
QString choose_save_file(const QString& caption, const QString& suggested_path, const QString& filter);

using SaveFileHandler = std::function<QString(const QString& caption, const QString& suggested_path)>;
SaveFileHandler set_save_file_handler(SaveFileHandler handler);
