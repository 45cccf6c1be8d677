#pragma once

#include "accounts.h"

#include <QString>

#include <functional>
#include <optional>

// Process-wide values that connect the menu, the login and the working
// screens. Created at start, never stored, never reset during a run. Screens
// read the flags when they use them (at load, at Save, at print), never a copy.
struct AppState {
    bool register_on_save = false;  // test screens: new/walk-in patient, register at Save
    bool mark_temporary = false;    // test screens: test_main.temp_patient = "Y"
    bool print_with_header = false; // reports: the letter-head files
    // The menu's tile that opened the latest screen (its screen's name): the
    // menu, made afresh after registration and the utility screen, starts there.
    QString menu_tile;
    QString login_password; // as typed at login; gates the utility screen's deletion
    // The account the users table let in, with its role; none when the file
    // could not be opened and a built-in pair let the user in.
    std::optional<Account> account;
    // The login name of a built-in pair that let the user in without the
    // database: checked against the users table when the database first
    // answers (empty once checked, and for a login the table let in).
    QString unchecked_login;
    // The session was ended (its account is disabled): nobody may act for it.
    bool ended = false;
};

// The person logged in, as the record operations are given them: the
// account's login and role, or, without one, the built-in login (which may
// do what the built-in logins always could: everything but verifying and
// managing accounts, and the deletion of temporary reports with the
// privileged password). A built-in login is first checked against the users
// table when the database is open; nobody at all once the session ended.
Actor current_actor();

// Whether the person logged in may do this (what a screen shows; the
// operation checks again).
bool logged_in_may(Right right);

// A session that began with a built-in pair, checked now against the users
// table of the open database: its account takes over (with its role), or,
// when the account is disabled or gone, the user is told and the program
// ends (set_on_session_ended: the shell closes the program). Runs each time
// the database connection opens.
void check_unchecked_login();
void set_on_session_ended(std::function<void()> end);

AppState& app_state();

// The application title that every message box carries unless it names its own.
inline constexpr char kAppTitle[] = "tavora lab";
