#include "screen_registry.h"

#include "message_box.h"
#include "scroll_fit.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QPointer>

namespace screens {
namespace {

// A screen asked to close (by a window manager, a screen reader's press on
// its Exit) while one of the program's message boxes is up closes once the
// box is answered: the code that showed the box still works on the screen.
class CloseAfterMessageBoxes : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close || !message_box_running() || ending())
            return QObject::eventFilter(watched, event);
        event->ignore();
        auto* w = static_cast<QWidget*>(watched);
        after_message_boxes(w, [w] { w->close(); });
        return true;
    }
};

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
        w->installEventFilter(new CloseAfterMessageBoxes(w));
        if (w->objectName().isEmpty()) w->setObjectName(name);
        scroll_when_larger(w);
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
