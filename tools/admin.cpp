// tavora-lab-admin: small administration jobs that the program itself never does.
//
//   tavora-lab-admin init PATH     create a new, empty database file with the schema

#include "schema_setup.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

int usage(QTextStream& err) {
    err << "usage: tavora-lab-admin init PATH\n"
           "  init PATH   create a new, empty database file (an existing file is never touched)\n";
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("init")) {
        const QString failure = create_database(args[1]);
        if (!failure.isEmpty()) {
            err << "tavora-lab-admin: cannot create the database: " << failure << "\n";
            return 1;
        }
        out << "Created " << args[1] << "\n";
        return 0;
    }
    return usage(err);
}
