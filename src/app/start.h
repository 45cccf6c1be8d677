#pragma once

class QApplication;
class QWidget;

// Registers every screen the program has with the screen registry.
void install_screens();

// Program start: registers the screens and shows the login screen, the only
// window; nothing touches the database until the menu loads.
QWidget* start_program();

// A logout or shutdown stops the program with a signal (SIGTERM, SIGHUP,
// SIGINT): from now on it ends as the exit icon ends it, on the event loop,
// so that it closes the database and removes its workstation's row.
void end_on_stop_signals();

// Runs the program's event loop until it ends, then closes the database
// (removing this workstation's registration). SIGTERM, SIGINT and SIGHUP end
// it as the exit icon does.
int run_until_ended(QApplication& app);
