#pragma once

#include "accounts.h"

#include <QString>

#include <optional>

// Process-wide values that connect the menu, the login and the working
// screens. Created at start, never stored, never reset during a run. Screens
// read the flags when they use them (at load, at Save, at print), never a copy.
struct AppState {
    bool register_on_save = false;  // test screens: new/walk-in patient, register at Save
    bool mark_temporary = false;    // test screens: test_main.temp_patient = "Y"
    bool print_with_header = false; // reports: the letter-head files
    QString login_password;         // as typed at login; gates the utility screen's deletion
    // The account the users table let in, with its role; none when the file
    // could not be read and a built-in pair let the user in.
    std::optional<Account> account;
};

// Whether the person logged in may do this: by the role of the account, or,
// without one, as the built-in logins always could (everything, and the
// deletion of temporary reports with the privileged password).
bool logged_in_may(Right right);

AppState& app_state();

// The application title that every message box carries unless it names its own.
inline constexpr char kAppTitle[] = "tavora lab";
