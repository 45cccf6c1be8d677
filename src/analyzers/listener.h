#pragma once

#include "analyzer_results.h"

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

// One [analyzer NAME] section of tavora-lab.ini.
struct AnalyzerChannel {
    QString name;
    QString protocol; // astm or hl7
    // Exactly one of these: a TCP port (0: any free one, named in the log),
    // a serial device, or a folder.
    int port = -1;
    QString serial;
    int baud = 9600;
    QString parity = QStringLiteral("none"); // none, even, odd, mark, space
    int data_bits = 8;
    int stop_bits = 1;
    QString folder;
    // Where this analyzer puts the sample id (astm::kSampleIdPlaces,
    // hl7::kSampleIdPlaces): O3 for ASTM and OBR3 for HL7 unless set.
    QString sample_id;
    // ASTM: which component (from 1) of a result's value holds it
    // (value-component; 0: the first non-empty one).
    int value_component = 0;
    // Several analyzers on one channel: each message names its sender from
    // its header (sender = header: ASTM H-5, HL7 MSH-3 and -4) instead of
    // the section's name (sender = section, the default).
    bool sender_from_header = false;
    // The instrument's own quality-control sample ids (qc-samples: wildcard
    // patterns such as QC* or CTRL?, letter case aside): their results are
    // quality control.
    QList<QRegularExpression> qc_samples;
    // The longest message taken (max-message, in bytes).
    qsizetype max_message = kMostMessageBytes;
};

struct ChannelConfig {
    QList<AnalyzerChannel> channels;
    QStringList problems; // one per section that cannot be used, with why
};
ChannelConfig read_channel_config(const QString& ini_path);

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

    struct Impl;
    std::unique_ptr<Impl> impl_;
};
