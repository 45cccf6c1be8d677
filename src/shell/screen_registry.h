#pragma once

#include <QString>
#include <QWidget>

#include <functional>

// Every screen of the program exists at most once. Screens are registered by
// name with a factory; opening a screen that is open shows it unchanged,
// opening one that is not builds it (its load runs) and shows it. Closing a
// screen destroys it, so its next opening loads it afresh.
namespace screens {

using Factory = std::function<QWidget*()>;

void add(const QString& name, Factory factory);

// The screen, opened and shown; nullptr when no screen of that name exists.
QWidget* open(const QString& name);
// The open screen of that name, or nullptr.
QWidget* find(const QString& name);

// Ends the program at once: every screen is closed without questions.
void end_program();
// True while end_program is closing the screens: a screen that would hand
// back to the menu when it closes must not do so then.
bool ending();

} // namespace screens

// Names of the screens the menu opens.
inline constexpr char kLoginScreen[] = "Tavora_lab";
inline constexpr char kMainMenu[] = "Form7";
inline constexpr char kRegistrationScreen[] = "patient_reg";
inline constexpr char kUtilityScreen[] = "utility";
