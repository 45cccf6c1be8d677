#pragma once

#include "analyzer_results.h"
#include "channel_config.h"
#include "hl7.h"

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// tavora-lab-analyzer: receives what the analyzers send, over TCP, a serial
// line or a folder the analyzer writes files into, and stores every message
// as it came with its results waiting for review (pending_results). Every
// message received, stored or refused is one line of the log.

// Answers the analyzers in a thread of its own: every complete message is
// first written to the spool (spool.h) and then acknowledged, so the answer
// never waits for the database; this object's thread takes the spooled
// messages into the database in the order they came, trying again while the
// database is busy or cannot be reached. Only a message that can never be
// stored (not understood, too long) is refused.
class AnalyzerListener : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;
    // `astm_timeout_ms`: the ASTM receiver's timeout (the standard's 30 s).
    AnalyzerListener(QList<AnalyzerChannel> channels, Log log, const QString& spool_folder,
                     int astm_timeout_ms = 30000, QObject* parent = nullptr);
    ~AnalyzerListener() override;

    // Opens the spool and takes into the database what waits there from
    // before; an empty text, or why the spool cannot be used (nothing may be
    // received then).
    QString open_spool();
    // Opens every channel (after open_spool); the problems of those that
    // could not be opened.
    QStringList start();

private:
    void drain();
    // Sends a pushing channel the orders due to it, over its newest connection.
    void push_orders(const AnalyzerChannel& channel);
    void take_acknowledgement(const QString& analyzer, const hl7::Acknowledgement& ack);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
