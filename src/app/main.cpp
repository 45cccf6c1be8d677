#include "start.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    end_on_stop_signals();
    start_program();
    return run_until_ended(app);
}
