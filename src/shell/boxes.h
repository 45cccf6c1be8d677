#pragma once

#include "typed_text.h"

#include <QString>
#include <QStringList>

#include <functional>

class QPushButton;
class QTableWidget;
class QWidget;

// What every screen does with its boxes, whether line edits or plain-text
// rich boxes.

QString box_text(const QWidget* box);
void set_box_text(QWidget* box, const QString& text);
// Read-only boxes still take the focus and can be read (and copied).
void set_box_read_only(QWidget* box, bool read_only);

// Runs `changed` after every change of the box's text: typed, pasted or set
// by the program.
void on_text_changed(QWidget* box, std::function<void()> changed);

// The length rule: whenever the text grows past `limit` characters, by typing
// or by the program, `message` is shown in a box titled "Information" and the
// box is emptied (the whole text goes, not just the excess).
void apply_length_rule(QWidget* box, int limit, const QString& message);

// Runs `left` when the focus moves from the box to another control (a button
// clicked included: it runs before the button's own action), but not when the
// whole window loses the focus to a message box or another program.
void on_left(QWidget* box, std::function<void()> left);

// A push button whose label carries its Alt key ("&Open report"), named
// `name` and, for screen readers, by its label without the "&".
QPushButton* named_button(QWidget* parent, const char* name, const char* label);

// A list of rows to read, not edit: named for screen readers, one whole row
// selected at a time, Tab leaving it (not walking its cells), no row numbers.
QTableWidget* read_only_table(QWidget* parent, const char* name, const QString& accessible_name,
                              const QStringList& headings);

// Enter or Return on a focused button presses it, as Space does.
void enter_presses_buttons(QWidget* screen);

// The look every working screen shares: the palette of the login and the
// menu, one type size, and locked boxes that stay readable (dark text on a
// light ground).
void apply_screen_look(QWidget* screen);
