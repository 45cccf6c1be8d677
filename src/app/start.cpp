#include "start.h"

#include "users_window.h"

#include "find_patient.h"
#include "login.h"
#include "main_menu.h"
#include "message_box.h"
#include "normal_ranges.h"
#include "prepared_report.h"
#include "registration_screen.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "tavora_module.h"
#include "utility_screen.h"
#include "workstations.h"

#include <QApplication>
#include <QDir>

void install_screens() {
    screens::add(QString::fromLatin1(kLoginScreen), [] { return new LoginScreen; });
    screens::add(QString::fromLatin1(kMainMenu), [] { return new MainMenu; });
    register_registration_screen();
    register_test_screens();
    register_utility_screen();
    register_find_screens();
    register_users_screen();
    // A restore forced while this program ran: the user hears it at once,
    // and the program goes on with the restored file.
    set_on_file_replaced([] {
        show_message(
            QStringLiteral("The database file %1 was restored from a backup while this program was "
                           "running. Work saved after that backup was made is not in it. The program "
                           "now works on the restored file: check what each screen shows before you "
                           "save.")
                .arg(QDir::toNativeSeparators(database_file_path())));
    });
}

QWidget* start_program() {
    QApplication::setApplicationDisplayName(QString());
    install_screens();
    return screens::open(QString::fromLatin1(kLoginScreen));
}
