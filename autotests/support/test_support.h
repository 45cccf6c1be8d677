#pragma once

#include "session_support.h"

#include <QApplication>
#include <QList>
#include <QQueue>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

// Runs a Qt Test class offscreen with a real QApplication.
#define TAVORA_TEST_MAIN(TestClass)                                                                          \
    int main(int argc, char** argv) {                                                                        \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                             \
        QApplication app(argc, argv);                                                                        \
        app.setQuitOnLastWindowClosed(false);                                                                \
        use_preview_engine();                                                                                \
        TestClass tc;                                                                                        \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

// Ends the program as the exit icon does and lets the closed screens go, so
// the next test opens them afresh.
void close_screens();

// What a screen reader finds in a window: one line per accessible object
// that can be seen, indented by depth, "role: name". Buttons, boxes and
// texts only, in the order the accessibility tree holds them.
QStringList accessible_tree(QWidget* window);

// Lets posted events (synthetic keystrokes) run.
void settle();

// Shows a top-level widget, makes it active and waits for that.
void show_active(QWidget* w);

// The print preview a report opened (the one shown), or null.
class QPrintPreviewDialog;
QPrintPreviewDialog* shown_preview();
