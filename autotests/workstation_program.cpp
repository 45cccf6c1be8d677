// A workstation's program for the tests of how it ends: it opens the
// database in the folder it is given, as the menu does after a login, says
// "registered", and runs the program's own event loop until it ends, by the
// exit icon after a moment ("exit-icon") or by a signal it is sent ("wait").
#include "app_state.h"
#include "connection.h"
#include "journal.h"
#include "screen_registry.h"
#include "start.h"
#include "workstations.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    if (argc != 3) return 2;
    set_program_folder(QString::fromLocal8Bit(argv[1]));
    install_screens();
    set_journal_user(QStringLiteral("tamor"));
    screens::open(QString::fromLatin1(kMainMenu));
    if (!connection_is_open()) return 3;
    end_on_stop_signals();
    std::printf("registered\n");
    std::fflush(stdout);
    if (qstrcmp(argv[2], "exit-icon") == 0) QTimer::singleShot(200, [] { screens::end_program(); });
    return run_until_ended(app);
}
