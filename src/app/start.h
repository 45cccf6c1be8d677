#pragma once

class QApplication;
class QWidget;

// Registers every screen the program has with the screen registry.
void install_screens();

// Program start: registers the screens and shows the login screen, the only
// window; nothing touches the database until the menu loads.
QWidget* start_program();

// Runs the program's event loop until it ends, then closes the database
// (removing this workstation's registration). SIGTERM, SIGINT and SIGHUP end
// it as the exit icon does.
int run_until_ended(QApplication& app);
