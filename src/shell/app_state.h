#pragma once

#include <QString>

// Process-wide values that connect the menu, the login and the working
// screens. Created at start, never stored, never reset during a run. Screens
// read the flags when they use them (at load, at Save, at print), never a copy.
struct AppState {
    bool register_on_save = false;  // test screens: new/walk-in patient, register at Save
    bool mark_temporary = false;    // test screens: test_main.temp_patient = "Y"
    bool print_with_header = false; // reports: the letter-head files
    QString login_password;         // as typed at login; gates the utility screen's deletion
};

AppState& app_state();

// The application title that every message box carries unless it names its own.
inline constexpr char kAppTitle[] = "tavora lab";
