#include "test_support.h"

#include "connection.h"
#include "postgres_database.h"
#include "records.h"
#include "schema_setup.h"

#include "screen_registry.h"
#include <QPrintPreviewDialog>

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

void close_screens() {
    screens::end_program();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

void show_active(QWidget* w) {
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w)) qWarning("window did not become active");
}

namespace {

void walk(QAccessibleInterface* node, int depth, QStringList& out) {
    if (!node || depth > 12) return;
    const QAccessible::State state = node->state();
    if (state.invisible) return;
    static const QMap<QAccessible::Role, QString> named{
        {QAccessible::Button, "button"},         {QAccessible::PushButton, "button"},
        {QAccessible::EditableText, "text box"}, {QAccessible::StaticText, "text"},
        {QAccessible::ComboBox, "combo box"},    {QAccessible::Table, "table"}};
    if (named.contains(node->role()))
        out << QString(depth * 2, ' ') + named.value(node->role()) + ": " + node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        walk(node->child(i), depth + 1, out);
}

} // namespace

QStringList accessible_tree(QWidget* window) {
    QStringList out;
    walk(QAccessible::queryAccessibleInterface(window), 0, out);
    return out;
}

QPrintPreviewDialog* shown_preview() {
    QPrintPreviewDialog* preview = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QPrintPreviewDialog*>(w); d && d->isVisible()) preview = d;
    return preview;
}
