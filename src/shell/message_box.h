#pragma once

#include "app_state.h"

#include <QString>

#include <functional>

class QObject;

// Every message box of the program goes through here. The program shows a
// modal box with the given title, text and buttons and no icon; the tests put
// their own handler in its place to answer the boxes and read them back.

enum class MessageButtons { Ok, YesNo, OkCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct ShownMessage {
    QString title;
    QString text;
    MessageButtons buttons = MessageButtons::Ok;
    QString detail; // the box's details (shown on request), when any
};

MessageAnswer show_message(const QString& text, MessageButtons buttons = MessageButtons::Ok,
                           const QString& title = QString::fromLatin1(kAppTitle), const QString& detail = {});

// The title the field rules use for their refusals.
inline QString information_title() {
    return QStringLiteral("Information");
}

// Whether a message box is being shown (its answer not given yet). A screen
// must not go away under its own box: the code that showed it still runs.
bool message_box_running();
// How many boxes have been shown since the program started: code that must
// know whether a box came up in between compares two readings.
int messages_shown();
// Runs `work` (with `context` still alive) once no message box is shown any more.
void after_message_boxes(QObject* context, std::function<void()> work);

using MessageHandler = std::function<MessageAnswer(const ShownMessage&)>;
// The boxes the user sees: modal message boxes (the shell's, installed by
// use_real_message_boxes() where the program starts). Without them a
// message goes to the log.
void set_real_message_boxes(MessageHandler boxes);
void use_real_message_boxes();
// Installs a handler in place of the real boxes; an empty one restores them.
// Returns the handler that was installed before.
MessageHandler set_message_handler(MessageHandler handler);
