#pragma once

#include "analyzer_message.h"

#include <QList>
#include <QRegularExpression>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <optional>

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
    // What the analyzer is told of the orders (orders=): nothing (off, the
    // default: a query is answered "no information"); the order of a sample
    // it asks for (query, ASTM); or each received sample's order sent to it
    // unasked (push, HL7 OML^O21 over its connection), looked for every
    // push-every seconds and sent again until it is acknowledged.
    enum class Orders { Off, Query, Push } orders = Orders::Off;
    int push_every_s = 5;
};

struct ChannelConfig {
    QList<AnalyzerChannel> channels;
    QStringList problems; // one per section that cannot be used, with why
};
ChannelConfig read_channel_config(const QString& ini_path);

// A serial line's parity by its name in the INI (none, even, odd, mark, space).
std::optional<QSerialPort::Parity> parity_named(const QString& name);
