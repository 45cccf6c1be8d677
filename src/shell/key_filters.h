#pragma once

class QKeyEvent;
class QWidget;

// Which typed characters a box keeps. Each takes the character code as the
// box received it and says whether it is accepted; a box that applies a
// filter lets the character in and then sends one Backspace for a refused
// one, so the user sees it flash in and out.
using CharFilter = bool (*)(int code);

bool digits_only(int code);   // 0-9, Backspace, Enter
bool phone_chars(int code);   // 0-9, - / \, Backspace, Enter
bool name_chars(int code);    // a-z A-Z, blank . /, Backspace, Enter
bool no_apostrophe(int code); // anything but '

// The character code a key press types, or -1 when it types none (arrows,
// Delete, Tab, shortcuts with Ctrl or Alt).
int typed_char_code(const QKeyEvent* event);

// Applies `filter` to every character typed into `box`.
void apply_char_filter(QWidget* box, CharFilter filter);

// Enter moves the focus to the next control of the tab order (one synthetic
// Tab). The Enter itself still reaches the box unless `swallow_enter` is set,
// which rich-text boxes use so that Enter moves on instead of breaking the line.
void apply_enter_to_next(QWidget* box, bool swallow_enter = false);
