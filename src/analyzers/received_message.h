#pragma once

#include "analyzer_message.h"
#include "channel_config.h"

#include <QByteArray>
#include <QString>

#include <functional>

// What the listener makes of a message an analyzer sent: its results as the
// channel's protocol reads them, and the row it becomes in the database.

// A message as the channel's protocol reads it: its results, or why not.
ReceivedMessage read_message(const AnalyzerChannel& c, const QByteArray& raw);
// What came of a message that never ended, kept with why.
ReceivedMessage incomplete(const AnalyzerChannel& c, const QByteArray& raw, const QString& why);
// Stores one message, saying in the log what came of it; an empty text, or
// why the database did not take it (the drain tells that).
QString store_message(const ReceivedMessage& message, const std::function<void(const QString&)>& log);
