#include "start.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    start_program();
    return run_until_ended(app);
}
