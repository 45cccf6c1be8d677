#pragma once

class QWidget;

// Synthetic keystrokes: a Tab ("{tab}") or a Backspace ("{bs}") posted to the
// focused widget, so it is handled after the current event, in the order sent.
// `fallback` receives it when no widget has the focus.
void send_tab(QWidget* fallback);
void send_backspace(QWidget* fallback);
