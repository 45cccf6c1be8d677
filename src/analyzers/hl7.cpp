#include "hl7.h"

#include "escapes.h"

#include <QDateTime>

#include <utility>

namespace hl7 {

QByteArray frame(QByteArrayView message) {
    return kStart + message.toByteArray() + kEnd + kCr;
}

QList<QByteArray> MllpReader::feed(QByteArrayView bytes) {
    QList<QByteArray> out;
    for (char c : bytes) {
        if (buffer_.isEmpty()) {
            if (c == kStart) buffer_ += c; // anything else between frames is noise
            continue;
        }
        if (c == kStart) {
            buffer_ = QByteArray(1, c); // a frame cut short: the new one counts
            continue;
        }
        buffer_ += c;
        if (buffer_.size() > most_ + 3) {
            too_long_ = buffer_.mid(1, kKeptOfTooLong);
            buffer_.clear();
            continue;
        }
        if (c == kCr && buffer_.size() >= 2 && buffer_[buffer_.size() - 2] == kEnd) {
            out << buffer_.mid(1, buffer_.size() - 3);
            buffer_.clear();
        }
    }
    return out;
}

namespace {

// The encoding characters a message's MSH segment names.
struct Encoding {
    char field = '|', component = '^', repeat = '~', escape = '\\', subcomponent = '&';
    QByteArray text() const {
        const char chars[] = {component, repeat, escape, subcomponent};
        return QByteArray(chars, 4);
    }
};

QList<QByteArray> segments(QByteArrayView message) {
    QList<QByteArray> out;
    for (const QByteArray& s : with_cr_line_ends(message).split(kCr))
        if (!s.trimmed().isEmpty()) out << s;
    return out;
}

// The encoding of a message that starts with a readable MSH segment.
std::optional<Encoding> encoding_of(const QList<QByteArray>& segs) {
    if (segs.isEmpty() || !segs[0].startsWith("MSH") || segs[0].size() < 8) return std::nullopt;
    const QByteArray& msh = segs[0];
    return Encoding{msh[3], msh[4], msh[5], msh[6], msh[7]};
}

// A field's text with HL7's escapes (\F\ \S\ \T\ \R\ \E\ \Xhh\) replaced;
// highlighting and formatting escapes are dropped.
QString unescaped(const QByteArray& text, const Encoding& e) {
    return QString::fromUtf8(unescape(text, e.escape,
                                      {{'F', e.field},
                                       {'S', e.component},
                                       {'T', e.subcomponent},
                                       {'R', e.repeat},
                                       {'E', e.escape}},
                                      false))
        .trimmed();
}

QByteArray escaped(const QString& text, const Encoding& e) {
    QByteArray out;
    for (char c : text.toUtf8()) {
        auto escape = [&](char code) { out += e.escape + QByteArray(1, code) + e.escape; };
        if (c == e.field)
            escape('F');
        else if (c == e.component)
            escape('S');
        else if (c == e.subcomponent)
            escape('T');
        else if (c == e.repeat)
            escape('R');
        else if (c == e.escape)
            escape('E');
        else if (c == kCr || c == '\n')
            out += ' ';
        else
            out += c;
    }
    return out;
}

// Component `n` (from 0) of a field's first repeat.
QString component(const QByteArray& field, const Encoding& e, int n = 0) {
    return unescaped(field.split(e.repeat).value(0).split(e.component).value(n), e);
}

// Field `n` of a segment as the standard counts it (MSH-1 is the separator itself).
QByteArray field(const QByteArray& segment, const Encoding& e, int n) {
    const QList<QByteArray> fields = segment.split(e.field);
    return fields.value(segment.startsWith("MSH") ? n - 1 : n);
}

} // namespace

// The specimen roles (SPM-11) of quality control: a control, a calibrator,
// electronic QC, a verifying calibrator.
const QStringList kQcRoles = {QStringLiteral("Q"), QStringLiteral("C"), QStringLiteral("E"),
                              QStringLiteral("V")};

Parsed parse_message(QByteArrayView message, const QString& sample_id) {
    const QList<QByteArray> segs = segments(message);
    const auto e = encoding_of(segs);
    if (!e) return {{}, QStringLiteral("the message does not begin with an MSH segment")};
    const QByteArray type = field(segs[0], *e, 9);
    const QString kind = component(type, *e, 0) + u'^' + component(type, *e, 1);
    if (kind != QLatin1String("ORU^R01") && kind != QLatin1String("OUL^R22") &&
        kind != QLatin1String("OUL^R24"))
        return {{},
                QStringLiteral("not a result message (ORU^R01, OUL^R22 or OUL^R24) but %1")
                    .arg(QString::fromLatin1(type.isEmpty() ? QByteArray("one of no type") : type))};
    Parsed out;
    const QString place = sample_id.isEmpty() ? QStringLiteral("OBR3") : sample_id;
    auto missing = [&](const QString& where) {
        return Parsed{{}, QStringLiteral("the sample id's place (%1) is empty %2").arg(place, where)};
    };
    // With SPM2 a specimen segment comes before its order (OUL) or after the
    // order's results (ORU 2.5.1): the results wait for it.
    QString patient, lab_id, specimen;
    qsizetype order_from = -1; // the first result of the order being read
    // A specimen whose role (SPM-11) is a control, calibrator or electronic
    // QC makes its results quality control: in an OUL the SPM comes before
    // its order, in an ORU after the order's results.
    const bool specimen_first = kind.startsWith(QLatin1String("OUL"));
    bool qc_specimen = false, qc_order = false;
    for (const QByteArray& s : segs) {
        const QByteArray name = s.left(3);
        if (name == "PID") {
            patient = component(field(s, *e, place == QLatin1String("PID2") ? 2 : 3), *e);
        } else if (name == "SPM") {
            qc_specimen = kQcRoles.contains(component(field(s, *e, 11), *e).toUpper());
            if (!specimen_first)
                for (qsizetype i = std::max<qsizetype>(order_from, 0); i < out.results.size(); ++i)
                    out.results[i].qc = out.results[i].qc || qc_specimen;
            if (place != QLatin1String("SPM2")) continue;
            specimen = component(field(s, *e, 2), *e);
            if (specimen.isEmpty()) return missing(QStringLiteral("in an SPM segment"));
            bool taken = false;
            for (qsizetype i = std::max<qsizetype>(order_from, 0); i < out.results.size(); ++i)
                if (out.results[i].lab_id.isEmpty()) out.results[i].lab_id = specimen, taken = true;
            if (taken) specimen.clear();
        } else if (name == "OBR") {
            order_from = out.results.size();
            qc_order = specimen_first && std::exchange(qc_specimen, false);
            if (place == QLatin1String("SPM2")) {
                lab_id = std::exchange(specimen, QString()); // empty: its SPM follows its results
                continue;
            }
            const bool from_patient = place.startsWith(QLatin1String("PID"));
            lab_id =
                from_patient ? patient : component(field(s, *e, place == QLatin1String("OBR2") ? 2 : 3), *e);
            if (lab_id.isEmpty())
                return missing(from_patient ? QStringLiteral("(no PID segment before the order)")
                                            : QStringLiteral("in an OBR segment"));
        } else if (name == "OBX") {
            if (order_from < 0) return {{}, QStringLiteral("an OBX segment comes before any OBR segment")};
            const QList<QByteArray> f = s.split(e->field); // OBX-n is f[n]
            // A structured numeric value (SN) in its parts: comparator,
            // number, separator or suffix, number (">^90" is >90, "^1^:^128" is 1:128).
            const QByteArray value = f.value(5);
            const QString shown =
                component(f.value(2), *e).compare(QLatin1String("SN"), Qt::CaseInsensitive) == 0
                    ? component(value, *e, 0) + component(value, *e, 1) + component(value, *e, 2) +
                          component(value, *e, 3)
                    : component(value, *e);
            QStringList test_id;
            for (const QByteArray& c : f.value(3).split(e->repeat).value(0).split(e->component))
                test_id << unescaped(c, *e);
            // The test's identifier, or its text where an analyzer sends none (^pH^M).
            QString code;
            for (int n = 0; code.isEmpty() && n < 3; ++n)
                code = test_id.value(n);
            if (code.isEmpty()) return {{}, QStringLiteral("an OBX segment names no test (OBX-3)")};
            AnalyzerResult r{lab_id,
                             code,
                             shown,
                             component(f.value(6), *e),
                             component(f.value(8), *e),
                             joined_test_id(test_id),
                             component(f.value(11), *e)};
            r.qc = qc_order;
            out.results << r;
        }
    }
    for (const AnalyzerResult& r : out.results)
        if (r.lab_id.isEmpty())
            return missing(QStringLiteral("for an order (no SPM segment names its specimen)"));
    if (out.results.isEmpty()) out.problem = QStringLiteral("the message holds no result (OBX segment)");
    return out;
}

QString message_key(QByteArrayView message) {
    const QList<QByteArray> segs = segments(message);
    const auto e = encoding_of(segs);
    if (!e) return {};
    const QString control = component(field(segs[0], *e, 10), *e);
    if (control.isEmpty()) return {};
    // With the message's time: some analyzers number their messages afresh
    // after a restart, and a message sent again keeps its time.
    return QStringLiteral("hl7:%1^%2^%3^%4")
        .arg(component(field(segs[0], *e, 3), *e), component(field(segs[0], *e, 4), *e), control,
             component(field(segs[0], *e, 7), *e));
}

QString sender_name(QByteArrayView message) {
    const QList<QByteArray> segs = segments(message);
    const auto e = encoding_of(segs);
    if (!e) return {};
    return (component(field(segs[0], *e, 3), *e) + u' ' + component(field(segs[0], *e, 4), *e)).trimmed();
}

QByteArray acknowledgement(QByteArrayView message, const char* code, const QString& reason) {
    const QList<QByteArray> segs = segments(message);
    const Encoding e = encoding_of(segs).value_or(Encoding{});
    const QByteArray msh = segs.isEmpty() ? QByteArray() : segs[0];
    const QByteArray control = encoding_of(segs) ? field(msh, e, 10) : QByteArray();
    const QByteArray processing = encoding_of(segs) ? field(msh, e, 11) : QByteArray();
    const QByteArray version = encoding_of(segs) ? field(msh, e, 12) : QByteArray();
    const char f = e.field;
    QByteArray ack = "MSH" + QByteArray(1, f) + e.text();
    for (const QByteArray& value :
         {QByteArray("TAVORA LAB"), QByteArray("LAB"), field(msh, e, 3), field(msh, e, 4),
          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1(), QByteArray(),
          QByteArray("ACK") + e.component + "R01", control.isEmpty() ? QByteArray("ACK") : control + "-ACK",
          processing.isEmpty() ? QByteArray("P") : processing,
          version.isEmpty() ? QByteArray("2.3.1") : version})
        ack += f + value;
    ack += kCr;
    ack += "MSA" + QByteArray(1, f) + code + f + control;
    if (!reason.isEmpty()) ack += f + escaped(reason, e);
    ack += kCr;
    return ack;
}

QByteArray order_message(const OrderForAnalyzer& order, const QByteArray& control_id,
                         const QString& receiver) {
    const Encoding e;
    const QByteArray now = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1();
    const QByteArray sample = escaped(order.sample_id, e);
    QByteArray m = "MSH|^~\\&|TAVORA LAB|LAB|" + escaped(receiver, e) + "||" + now + "||OML^O21^OML_O21|" +
                   escaped(QString::fromLatin1(control_id), e) + "|P|2.5.1\r";
    m += "PID|1||" + QByteArray::number(order.patient_id) + "||" + escaped(order.patient_name, e) + "\r";
    int n = 0;
    for (const QString& code : order.codes) {
        ++n;
        m += "ORC|NW|" + sample + "\r";
        m += "OBR|" + QByteArray::number(n) + "|" + sample + "||" + escaped(code, e) + "^^L|" +
             (order.urgent ? "S" : "R") + "\r";
    }
    return m;
}

std::optional<Acknowledgement> read_acknowledgement(QByteArrayView message) {
    const QList<QByteArray> segs = segments(message);
    const auto e = encoding_of(segs);
    if (!e || component(field(segs[0], *e, 9), *e) != QLatin1String("ACK")) return std::nullopt;
    for (const QByteArray& s : segs)
        if (s.startsWith("MSA"))
            return Acknowledgement{component(field(s, *e, 1), *e).toLatin1(),
                                   component(field(s, *e, 2), *e).toLatin1(), unescaped(field(s, *e, 3), *e)};
    return Acknowledgement{};
}

} // namespace hl7
