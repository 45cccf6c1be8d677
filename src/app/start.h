#pragma once

class QWidget;

// Registers every screen the program has with the screen registry.
void install_screens();

// Program start: registers the screens and shows the login screen, the only
// window; nothing touches the database until the menu loads.
QWidget* start_program();
