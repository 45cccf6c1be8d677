#include "start.h"

#include "users_window.h"

#include "app_state.h"
#include "connection.h"
#include "critical_call.h"
#include "find_patient.h"
#include "login.h"
#include "main_menu.h"
#include "message_box.h"
#include "normal_ranges.h"
#include "order_window.h"
#include "prepared_report.h"
#include "registration_screen.h"
#include "report_engine.h"
#include "result_screen.h"
#include "screen_registry.h"
#include "utility_screen.h"
#include "workstations.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

void install_screens() {
    // What the layers below ask of the screens: the boxes, the preview, the
    // critical-call dialog, and the program's end when a session ends.
    keep_workstation_registry();
    use_real_message_boxes();
    use_preview_engine();
    use_critical_call_dialog();
    set_on_session_ended(screens::end_program);
    screens::add(QString::fromLatin1(kLoginScreen), [] { return new LoginScreen; });
    screens::add(QString::fromLatin1(kMainMenu), [] { return new MainMenu; });
    register_registration_screen();
    register_test_screens();
    register_utility_screen();
    register_find_screens();
    register_order_screens();
    register_users_screen();
    // A session let in by a built-in pair meets the users table as soon as
    // the database answers.
    set_on_connection_opened(check_unchecked_login);
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

namespace {

#ifdef Q_OS_UNIX
int stop_pipe[2] = {-1, -1};

void on_stop_signal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stop_pipe[1], &byte, 1); // all a handler may safely do
}
#endif

} // namespace

void end_on_stop_signals() {
#ifdef Q_OS_UNIX
    if (stop_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stop_pipe) != 0) return;
    auto* notifier = new QSocketNotifier(stop_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        [[maybe_unused]] const auto read = ::read(stop_pipe[0], &byte, 1);
        screens::end_program();
    });
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#endif
}

int run_until_ended(QApplication& app) {
    end_on_stop_signals();
    const int status = app.exec();
    // However it ended (the exit icon, the last window closed, a stop
    // signal), the database is closed and this workstation's row goes.
    close_connection();
    return status;
}
