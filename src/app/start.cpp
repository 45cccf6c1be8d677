#include "start.h"

#include "find_patient.h"
#include "login.h"
#include "main_menu.h"
#include "prepared_report.h"
#include "registration_screen.h"
#include "result_flags.h"
#include "screen_registry.h"
#include "test_screen.h"
#include "utility_screen.h"

#include <QApplication>

void install_screens() {
    screens::add(QString::fromLatin1(kLoginScreen), [] { return new LoginScreen; });
    screens::add(QString::fromLatin1(kMainMenu), [] { return new MainMenu; });
    register_registration_screen();
    register_test_screens();
    register_utility_screen();
    register_find_screens();
    set_result_flagger(stored_result_flag);
}

QWidget* start_program() {
    QApplication::setApplicationDisplayName(QString());
    install_screens();
    return screens::open(QString::fromLatin1(kLoginScreen));
}
