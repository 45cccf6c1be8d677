#include "screen_registry.h"

#include <QApplication>
#include <QHash>
#include <QPointer>

namespace screens {
namespace {

struct Entry {
    Factory factory;
    QPointer<QWidget> instance;
};

QHash<QString, Entry>& registry() {
    static QHash<QString, Entry> r;
    return r;
}

} // namespace

void add(const QString& name, Factory factory) {
    registry()[name].factory = std::move(factory);
}

QWidget* find(const QString& name) {
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : it->instance.data();
}

QWidget* open(const QString& name) {
    auto it = registry().find(name);
    if (it == registry().end() || !it->factory) return nullptr;
    if (!it->instance) {
        QWidget* w = it->factory();
        if (!w) return nullptr;
        w->setAttribute(Qt::WA_DeleteOnClose);
        if (w->objectName().isEmpty()) w->setObjectName(name);
        it->instance = w;
    }
    QWidget* w = it->instance;
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

namespace {
bool g_ending = false;
}

bool ending() {
    return g_ending;
}

void end_program() {
    g_ending = true;
    QApplication::closeAllWindows();
    g_ending = false;
    QCoreApplication::quit();
}

} // namespace screens
