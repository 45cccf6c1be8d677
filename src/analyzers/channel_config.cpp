#include "channel_config.h"

#include "astm.h"
#include "hl7.h"

#include <QFile>
#include <QHash>
#include <QSettings>

namespace {

const QString kSectionPrefix = QStringLiteral("analyzer ");

} // namespace

std::optional<QSerialPort::Parity> parity_named(const QString& name) {
    static const QHash<QString, QSerialPort::Parity> kParities{
        {QStringLiteral("none"), QSerialPort::NoParity},
        {QStringLiteral("even"), QSerialPort::EvenParity},
        {QStringLiteral("odd"), QSerialPort::OddParity},
        {QStringLiteral("mark"), QSerialPort::MarkParity},
        {QStringLiteral("space"), QSerialPort::SpaceParity}};
    if (!kParities.contains(name.toLower())) return std::nullopt;
    return kParities.value(name.toLower());
}

ChannelConfig read_channel_config(const QString& ini_path) {
    ChannelConfig out;
    if (!QFile::exists(ini_path)) {
        out.problems << QStringLiteral("%1 does not exist").arg(ini_path);
        return out;
    }
    QSettings ini(ini_path, QSettings::IniFormat);
    for (const QString& group : ini.childGroups()) {
        if (!group.startsWith(kSectionPrefix, Qt::CaseInsensitive)) continue;
        AnalyzerChannel c;
        c.name = group.mid(kSectionPrefix.size()).trimmed();
        ini.beginGroup(group);
        c.protocol = ini.value(QStringLiteral("protocol")).toString().trimmed().toLower();
        const bool tcp = ini.contains(QStringLiteral("listen"));
        c.port = tcp ? ini.value(QStringLiteral("listen")).toString().toInt() : -1;
        c.serial = ini.value(QStringLiteral("serial")).toString().trimmed();
        c.baud = ini.value(QStringLiteral("baud"), 9600).toInt();
        c.parity = ini.value(QStringLiteral("parity"), QStringLiteral("none")).toString().trimmed();
        c.data_bits = ini.value(QStringLiteral("data-bits"), 8).toInt();
        c.stop_bits = ini.value(QStringLiteral("stop-bits"), 1).toInt();
        c.folder = ini.value(QStringLiteral("folder")).toString().trimmed();
        const QStringList places =
            c.protocol == QLatin1String("hl7") ? hl7::kSampleIdPlaces : astm::kSampleIdPlaces;
        c.sample_id = ini.value(QStringLiteral("sample-id"), places.first()).toString().trimmed().toUpper();
        const QString sender =
            ini.value(QStringLiteral("sender"), QStringLiteral("section")).toString().trimmed().toLower();
        c.sender_from_header = sender == QLatin1String("header");
        bool component_ok = true;
        c.value_component = ini.value(QStringLiteral("value-component"), 0).toString().toInt(&component_ok);
        bool bound_ok = true;
        c.max_message =
            ini.value(QStringLiteral("max-message"), kMostMessageBytes).toString().toLongLong(&bound_ok);
        for (const QString& pattern : ini.value(QStringLiteral("qc-samples")).toStringList())
            if (!pattern.trimmed().isEmpty())
                c.qc_samples << QRegularExpression::fromWildcard(pattern.trimmed(), Qt::CaseInsensitive);
        const QString orders =
            ini.value(QStringLiteral("orders"), QStringLiteral("off")).toString().trimmed().toLower();
        c.orders = orders == QLatin1String("query")  ? AnalyzerChannel::Orders::Query
                   : orders == QLatin1String("push") ? AnalyzerChannel::Orders::Push
                                                     : AnalyzerChannel::Orders::Off;
        bool every_ok = true;
        c.push_every_s = ini.value(QStringLiteral("push-every"), 5).toString().toInt(&every_ok);
        const QString raw_port = ini.value(QStringLiteral("listen")).toString();
        ini.endGroup();
        QString problem;
        if (c.name.isEmpty())
            problem = QStringLiteral("the section has no analyzer name");
        else if (c.protocol != QLatin1String("astm") && c.protocol != QLatin1String("hl7"))
            problem = QStringLiteral("protocol must be astm or hl7");
        else if (sender != QLatin1String("section") && sender != QLatin1String("header"))
            problem = QStringLiteral("sender must be section or header");
        else if (!component_ok || c.value_component < 0 || c.value_component > 20)
            problem = QStringLiteral("value-component must be a component's number, 1 to 20");
        else if (!bound_ok || c.max_message < 1024)
            problem = QStringLiteral("max-message must be a number of bytes, at least 1024");
        else if (c.protocol == QLatin1String("hl7") ? !places.contains(c.sample_id)
                                                    : !astm::sample_id_place(c.sample_id))
            problem = QStringLiteral("sample-id must be one of %1").arg(places.join(QStringLiteral(" | ")));
        else if (orders != QLatin1String("off") && orders != QLatin1String("query") &&
                 orders != QLatin1String("push"))
            problem = QStringLiteral("orders must be query, push or off");
        else if (c.orders == AnalyzerChannel::Orders::Query && c.protocol != QLatin1String("astm"))
            problem =
                QStringLiteral("orders = query is for ASTM analyzers (an HL7 analyzer takes orders = push)");
        else if (c.orders == AnalyzerChannel::Orders::Push && c.protocol != QLatin1String("hl7"))
            problem =
                QStringLiteral("orders = push is for HL7 analyzers (an ASTM analyzer asks: orders = query)");
        else if (c.orders == AnalyzerChannel::Orders::Push && !c.folder.isEmpty())
            problem = QStringLiteral("orders = push needs a connection (listen= or serial=), not a folder");
        else if (!every_ok || c.push_every_s < 1 || c.push_every_s > 3600)
            problem = QStringLiteral("push-every must be a number of seconds, 1 to 3600");
        else if (int(tcp) + int(!c.serial.isEmpty()) + int(!c.folder.isEmpty()) != 1)
            problem = QStringLiteral("give exactly one of listen=PORT, serial=DEVICE or folder=PATH");
        else if (tcp && (c.port < 0 || c.port > 65535 || (c.port == 0 && raw_port.trimmed() != "0")))
            problem = QStringLiteral("listen must be a port number");
        else if (!c.serial.isEmpty() && (c.baud <= 0 || !parity_named(c.parity) || c.data_bits < 5 ||
                                         c.data_bits > 8 || (c.stop_bits != 1 && c.stop_bits != 2)))
            problem =
                QStringLiteral("the serial settings are not valid (baud, parity none|even|odd|mark|space, "
                               "data-bits 5-8, stop-bits 1|2)");
        if (problem.isEmpty())
            out.channels << c;
        else
            out.problems << QStringLiteral("[%1]: %2").arg(group, problem);
    }
    if (out.channels.isEmpty() && out.problems.isEmpty())
        out.problems << QStringLiteral("%1 has no [analyzer NAME] section").arg(ini_path);
    return out;
}
