// Registration at scale: with 100,000 registered patients, the time to open
// the registration screen, to look a patient up, to save a new one, and for
// Show all to show the whole list. Runs offscreen against a fresh database.

#include "bench_support.h"
#include "connection.h"
#include "core_tables.h"
#include "message_box.h"
#include "records.h"
#include "registration_screen.h"
#include "schema_setup.h"
#include "workstations.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kPatients = 100000;

void fill(int patients) {
    auto db = database();
    QSqlQuery q(db.value);
    q.exec("BEGIN IMMEDIATE");
    q.prepare("INSERT INTO registration VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (int id = 1; id <= patients; ++id) {
        q.addBindValue(id);
        q.addBindValue(QString("Patient number %1").arg(id));
        q.addBindValue(QString::number(id % 90));
        q.addBindValue(id % 2 ? "M" : "F");
        q.addBindValue("040-2345678");
        q.addBindValue("9876543210");
        q.addBindValue("someone@example.org");
        q.addBindValue("Clerk");
        q.addBindValue("Next Of Kin");
        q.addBindValue("12 Hill Road, Ward 4");
        q.addBindValue(QDate(2020, 1, 1).addDays(id % 2000).toString(Qt::ISODate));
        q.addBindValue("Fever for three days");
        q.exec();
    }
    q.exec("COMMIT");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    keep_workstation_registry(); // this program registers where it works
    set_message_handler([](const ShownMessage&) { return MessageAnswer::Ok; });
    QTemporaryDir dir;
    create_database(dir.path() + "/tavora lab.mdb");
    set_program_folder(dir.path());
    open_connection();
    fill(kPatients);

    const double open_ms = median_ms(9, [] {
        auto* screen = new RegistrationScreen;
        screen->show();
        QCoreApplication::processEvents();
        delete screen;
    });

    RegistrationScreen screen;
    screen.show();
    QCoreApplication::processEvents();
    int n = 0;
    const double lookup_ms = median_ms(21, [&] {
        screen.show_mode();
        screen.findChild<QLineEdit*>("Text1")->setText(QString::number(1 + (n++ * 4999) % kPatients));
        screen.look_up();
    });
    const double save_ms = median_ms(21, [&] {
        screen.clear();
        screen.findChild<QLineEdit*>("text2")->setText("New Patient");
        screen.save();
    });
    const double list_ms = median_ms(5, [&] {
        screen.show_all();
        QCoreApplication::processEvents(); // painted
    });

    std::printf("registration with %d patients (medians, offscreen):\n", kPatients);
    Targets targets;
    targets.check("open the screen", open_ms, 20);
    targets.check("look-up", lookup_ms, 20);
    targets.check("save", save_ms, 20);
    targets.check("show all", list_ms, 300);
    return targets.exit_code();
}
