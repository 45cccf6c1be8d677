#include "astm.h"

#include "escapes.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cctype>

namespace astm {

QByteArray checksum(QByteArrayView number_to_end) {
    unsigned sum = 0;
    for (char c : number_to_end)
        sum += quint8(c);
    return QByteArray::number(sum % 256, 16).toUpper().rightJustified(2, '0');
}

QByteArray frame(int number, QByteArrayView text, bool last) {
    QByteArray body;
    body += char('0' + number % 8);
    body += text.toByteArray();
    body += last ? kEtx : kEtb;
    return kStx + body + checksum(body) + kCr + kLf;
}

QList<QByteArray> frames(QByteArrayView records) {
    QList<QByteArray> out;
    int number = 1;
    for (QByteArray record : records.toByteArray().split(kCr)) {
        if (record.isEmpty()) continue;
        record += kCr;
        for (qsizetype at = 0; at < record.size(); at += kFrameText) {
            const bool last = at + kFrameText >= record.size();
            out << frame(number++, record.mid(at, kFrameText), last);
        }
    }
    return out;
}

namespace {

// The delimiters a message's header names: H, then field, repeat, component
// and escape characters.
struct Delimiters {
    char field = '|', repeat = '\\', component = '^', escape = '&';
};

// A field's text with the escape sequences of LIS2-A2 replaced: &F& &S& &R&
// &E& stand for the delimiters themselves, &Xhh..& for bytes in hex; any
// other is kept as written.
QString unescaped(const QByteArray& text, const Delimiters& d) {
    return QString::fromLatin1(
               unescape(text, d.escape,
                        {{'F', d.field}, {'S', d.component}, {'R', d.repeat}, {'E', d.escape}}, true))
        .trimmed();
}

// The first repeat of a field, cut into its components.
QList<QByteArray> components(const QByteArray& field, const Delimiters& d) {
    return field.split(d.repeat).value(0).split(d.component);
}

QString first_component(const QByteArray& field, const Delimiters& d) {
    for (const QByteArray& c : components(field, d))
        if (!c.trimmed().isEmpty()) return unescaped(c, d);
    return {};
}

// The analyzer's code of a universal test id (^^^code, the manufacturer's
// local code, or the first part given).
QString test_code(const QByteArray& field, const Delimiters& d) {
    const QList<QByteArray> parts = components(field, d);
    if (parts.size() > 3 && !parts[3].trimmed().isEmpty()) return unescaped(parts[3], d);
    return first_component(field, d);
}

} // namespace

Parsed parse_message(QByteArrayView records, const QString& sample_id, int value_component) {
    QList<QByteArray> lines;
    for (const QByteArray& line : with_cr_line_ends(records).split(kCr))
        if (!line.trimmed().isEmpty()) lines << line;
    Parsed out;
    if (lines.isEmpty() || lines[0].size() < 5 || lines[0][0] != 'H')
        return {{}, QStringLiteral("the message does not begin with a header (H) record")};
    const Delimiters d{lines[0][1], lines[0][2], lines[0][3], lines[0][4]};
    if (std::toupper(quint8(lines.last()[0])) != 'L')
        return {{}, QStringLiteral("the message has no terminator (L) record")};
    // Component `n` (from 0) of field `f` (as the standard counts: the record type is 1).
    auto part = [&](const QList<QByteArray>& fields, int f, int n) {
        return unescaped(components(fields.value(f - 1), d).value(n), d);
    };
    const SampleIdPlace place = sample_id_place(sample_id).value_or(SampleIdPlace{});
    QString specimen, patient_id;
    bool order = false;
    // A quality-control run: the header's processing id (H-12) is Q, or an
    // order's action code (O-12) is Q.
    const bool qc_run =
        part(lines[0].split(d.field), 12, 0).compare(QLatin1String("Q"), Qt::CaseInsensitive) == 0;
    bool qc_order = false, query = false;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(d.field);
        switch (std::toupper(quint8(line[0]))) {
        case 'P':
            order = false;
            specimen.clear();
            patient_id = place.record == 'P' ? part(fields, place.field, place.component - 1) : QString();
            break;
        case 'O':
            order = true;
            qc_order = part(fields, 12, 0).compare(QLatin1String("Q"), Qt::CaseInsensitive) == 0;
            specimen = place.record == 'P' ? patient_id : part(fields, place.field, place.component - 1);
            if (specimen.isEmpty())
                return {{},
                        QStringLiteral("the sample id's place (%1) is empty for the order record: %2")
                            .arg(sample_id, QString::fromLatin1(line.left(60)))};
            break;
        case 'R': {
            if (!order) return {{}, QStringLiteral("a result (R) record comes before any order (O) record")};
            const QString value = value_component > 0 ? part(fields, 4, value_component - 1)
                                                      : first_component(fields.value(3), d);
            QStringList test_id;
            for (const QByteArray& c : components(fields.value(2), d))
                test_id << unescaped(c, d);
            AnalyzerResult r{specimen,
                             test_code(fields.value(2), d),
                             value,
                             first_component(fields.value(4), d),
                             first_component(fields.value(6), d),
                             joined_test_id(test_id),
                             part(fields, 9, 0),
                             qc_run || qc_order};
            if (r.code.isEmpty()) return {{}, QStringLiteral("a result (R) record names no test")};
            out.results << r;
            break;
        }
        case 'Q':
            query = true;
            break;
        default: // H, C comments, L and the records no result is in
            break;
        }
    }
    if (out.results.isEmpty())
        out.problem = query ? QStringLiteral("a query for the analyzer's work (Q record), answered "
                                             "\"no information\": there are no orders to send")
                            : QStringLiteral("the message holds no result (R) record");
    return out;
}

std::optional<SampleIdPlace> sample_id_place(const QString& name) {
    static const QRegularExpression kPlace(QStringLiteral("^([OP])([34])(?:\\.([1-9]))?$"));
    const QRegularExpressionMatch m = kPlace.match(name.trimmed().toUpper());
    if (!m.hasMatch()) return std::nullopt;
    return SampleIdPlace{char(m.captured(1)[0].toLatin1()), m.captured(2).toInt(),
                         m.captured(3).isEmpty() ? 1 : m.captured(3).toInt()};
}

bool is_query(QByteArrayView records) {
    for (const QByteArray& line : with_cr_line_ends(records).split(kCr))
        if (line.size() > 1 && std::toupper(quint8(line[0])) == 'Q' &&
            line[1] == (records.size() > 1 ? records[1] : '|'))
            return true;
    return false;
}

QByteArray no_information_reply() {
    return "H|\\^&|||TAVORA LAB|||||||P|LIS2-A2|" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "\rL|1|I\r";
}

QString query_sample_id(QByteArrayView records) {
    const QList<QByteArray> lines = with_cr_line_ends(records).split(kCr);
    const QByteArray header = lines.value(0);
    if (header.size() < 5 || header[0] != 'H') return {};
    const Delimiters d{header[1], header[2], header[3], header[4]};
    for (const QByteArray& line : lines) {
        if (line.isEmpty() || std::toupper(quint8(line[0])) != 'Q') continue;
        const QByteArray range = line.split(d.field).value(2);
        const QList<QByteArray> parts = components(range, d);
        if (parts.size() > 1 && !parts[1].trimmed().isEmpty()) return unescaped(parts[1], d);
        return first_component(range, d);
    }
    return {};
}

QByteArray order_reply(const OrderForAnalyzer& order) {
    auto text = [](const QString& t) {
        QByteArray b = t.toLatin1();
        for (char c : {'|', '\\', '^', '&', '\r', '\n'})
            b.replace(c, ' ');
        return b.trimmed();
    };
    QByteArrayList tests;
    for (const QString& code : order.codes)
        tests << "^^^" + text(code);
    const QByteArray now = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1();
    return "H|\\^&|||TAVORA LAB|||||||P|LIS2-A2|" + now + "\r" + "P|1||" +
           QByteArray::number(order.patient_id) + "|||" + text(order.patient_name) + "\r" + "O|1|" +
           text(order.sample_id) + "||" + tests.join('\\') + "|" + (order.urgent ? "S" : "R") + "||" + now +
           "||||A||||||||||||||O\r" + "L|1|N\r";
}

QString sender_name(QByteArrayView records) {
    const QByteArray header = with_cr_line_ends(records).split(kCr).value(0);
    if (header.size() < 5 || header[0] != 'H') return {};
    const Delimiters d{header[1], header[2], header[3], header[4]};
    return first_component(header.split(d.field).value(4), d);
}

} // namespace astm

AstmLink::AstmLink(Deliver deliver, Abandon abandon, Log log, int receiver_timeout_ms, qsizetype most)
    : deliver_(std::move(deliver)), abandon_(std::move(abandon)), log_(std::move(log)),
      timeout_ms_(receiver_timeout_ms), most_(most) {}

qint64 AstmLink::deadline() const {
    if (state_ == State::Bidding || state_ == State::Sending) return last_ms_ + astm::kSenderTimeoutMs;
    return state_ == State::Idle ? -1 : last_ms_ + timeout_ms_;
}

void AstmLink::send(const QByteArray& records, const QString& what) {
    outbox_ << records;
    outbox_what_ << what;
}

QByteArray AstmLink::take_output(qint64 now_ms) {
    QByteArray out = std::exchange(output_, QByteArray());
    if (state_ != State::Idle || outbox_.isEmpty() || now_ms < bid_after_) return out;
    out_frames_ = astm::frames(outbox_.first());
    out_next_ = 0;
    out_failures_ = 0;
    ++out_bids_;
    state_ = State::Bidding;
    last_ms_ = now_ms;
    return out + astm::kEnq;
}

void AstmLink::answer_sent(bool taken, const QString& why) {
    if (taken || out_bids_ >= 3) {
        if (!taken && log_) log_(QStringLiteral("an answer to the analyzer was given up: %1").arg(why));
        if (taken && log_)
            log_(QStringLiteral("answered the analyzer's query: %1").arg(outbox_what_.first()));
        outbox_.removeFirst();
        outbox_what_.removeFirst();
        out_bids_ = 0;
        bid_after_ = 0;
    } else {
        bid_after_ = last_ms_ + astm::kSenderTimeoutMs; // tried again a little later
        if (log_) log_(QStringLiteral("an answer to the analyzer waits: %1").arg(why));
    }
}

// The analyzer's answer (`c`) to our bid or frame: the next frame, the same
// one again, or the line handed back.
QByteArray AstmLink::sending_reply(char c, qint64 now_ms) {
    using namespace astm;
    last_ms_ = now_ms;
    if (state_ == State::Bidding) {
        if (c == kAck) {
            state_ = State::Sending;
            return out_frames_.value(0);
        }
        if (c == kNak) { // busy: bid again later
            state_ = State::Idle;
            answer_sent(false, QStringLiteral("the analyzer is busy (NAK)"));
        }
        return {};
    }
    if (c == kAck || c == kEot) { // EOT: taken, and the analyzer asks for the line
        out_failures_ = 0;
        if (++out_next_ < out_frames_.size()) return out_frames_[out_next_];
        state_ = State::Idle;
        answer_sent(true);
        return QByteArray(1, kEot);
    }
    if (c == kNak) {
        if (++out_failures_ < 6) return out_frames_[out_next_];
        state_ = State::Idle;
        answer_sent(false, QStringLiteral("six frames refused (NAK)"));
        return QByteArray(1, kEot);
    }
    return {};
}

void AstmLink::tick(qint64 now_ms) {
    if (state_ == State::Idle || now_ms < deadline()) return;
    if (state_ == State::Bidding || state_ == State::Sending) {
        // The analyzer did not answer in time: the line is given back.
        output_ += astm::kEot;
        state_ = State::Idle;
        last_ms_ = now_ms;
        return answer_sent(
            false, QStringLiteral("the analyzer did not answer for %1 s").arg(astm::kSenderTimeoutMs / 1000));
    }
    if (log_) log_(QStringLiteral("no frame for %1 s: the transfer is ended").arg(timeout_ms_ / 1000.0));
    end_transfer(QStringLiteral("the analyzer fell silent before the message's last record"));
}

void AstmLink::line_closed() {
    if (state_ == State::Transfer)
        end_transfer(QStringLiteral("the connection closed before the message's last record"));
}

void AstmLink::end_transfer(const QString& why) {
    const QByteArray rest = message_ + record_;
    if (!rest.trimmed().isEmpty() && abandon_) abandon_(rest, why);
    message_.clear();
    record_.clear();
    frame_.clear();
    in_frame_ = false;
    refused_frame_.clear();
    accepted_.clear();
    state_ = State::Idle;
}

QByteArray AstmLink::receive(QByteArrayView bytes, qint64 now_ms) {
    using namespace astm;
    QByteArray reply;
    for (char c : bytes) {
        if (state_ == State::Transfer) last_ms_ = now_ms;
        if (in_frame_) {
            if (c == kEot || c == kEnq || c == kStx) {
                in_frame_ = false; // a frame cut short: what follows is read afresh
                frame_.clear();
            } else {
                frame_ += c;
                if (c == kLf && frame_.size() >= 2 && frame_[frame_.size() - 2] == kCr) {
                    reply += take_frame(frame_);
                    frame_.clear();
                    in_frame_ = false;
                } else if (message_.size() + record_.size() + frame_.size() > most_ + 8) {
                    in_frame_ = false; // the message is past its bound within this frame
                    reply += refuse_too_long(frame_.mid(2));
                    frame_.clear();
                }
                continue;
            }
        }
        if (state_ == State::Bidding && c == kEnq) {
            // Both bid at once: the analyzer has the line, our answer waits.
            state_ = State::Idle;
            answer_sent(false, QStringLiteral("the analyzer bid for the line at the same time"));
            bid_after_ = 0;
        } else if (state_ == State::Bidding || state_ == State::Sending) {
            reply += sending_reply(c, now_ms);
            continue;
        }
        if (state_ == State::Idle) {
            if (c != kEnq) continue; // a receiver at rest hears nothing but ENQ
            state_ = State::Transfer;
            last_ms_ = now_ms;
            expected_ = 1;
            failures_ = 0;
            reply += kAck;
        } else if (c == kStx) {
            in_frame_ = true;
            frame_ = QByteArray(1, kStx);
        } else if (c == kEot) {
            end_transfer(QStringLiteral("the transfer ended before the message's last record"));
        } else if (c == kEnq) {
            // The analyzer starts over (its own timeout ran out): what it had
            // sent of a message is kept as unfinished, and the line is its again.
            end_transfer(QStringLiteral("the analyzer began again before the message's last record"));
            state_ = State::Transfer;
            last_ms_ = now_ms;
            expected_ = 1;
            failures_ = 0;
            reply += kAck;
        }
    }
    return reply;
}

QByteArray AstmLink::take_frame(const QByteArray& f) {
    using namespace astm;
    const qsizetype n = f.size();
    QString fault;
    int number = -1;
    if (n < 7 || (f[n - 5] != kEtx && f[n - 5] != kEtb) || f[1] < '0' || f[1] > '7')
        fault = QStringLiteral("not a frame");
    else if (checksum(f.mid(1, n - 5)) != f.mid(n - 4, 2).toUpper())
        fault = QStringLiteral("bad checksum");
    else if ((number = f[1] - '0') != expected_) {
        // The frame before, sent again because our ACK was lost: it is in.
        if (f == accepted_) return QByteArray(1, kAck);
        fault = QStringLiteral("frame number %1 where %2 was due").arg(number).arg(expected_);
    }
    if (fault.isEmpty() && message_.size() + record_.size() + n > most_)
        return refuse_too_long(f.mid(2, n - 7));
    if (fault.isEmpty()) {
        const QByteArray record_before = record_, message_before = message_;
        delivered_this_frame_ = 0;
        skip_ = f == refused_frame_ ? delivered_of_refused_ : 0;
        if (accept_text(f.mid(2, n - 7), f[n - 5] == kEtx)) {
            refused_frame_.clear();
            accepted_ = f;
            failures_ = 0;
            expected_ = (expected_ + 1) % 8;
            return QByteArray(1, kAck);
        }
        record_ = record_before; // not stored: the analyzer sends the frame again
        message_ = message_before;
        refused_frame_ = f;
        delivered_of_refused_ = delivered_this_frame_;
        fault = QStringLiteral("the message could not be stored");
    }
    ++failures_;
    if (log_)
        log_(QStringLiteral("frame refused (NAK %1 of 6): %2%3")
                 .arg(failures_)
                 .arg(fault,
                      failures_ >= 6 ? QStringLiteral("; the analyzer gives up this transfer") : QString()));
    return QByteArray(1, kNak);
}

QByteArray AstmLink::refuse_too_long(QByteArrayView text) {
    // What came of the message is kept in part, with why; the transfer is
    // refused and the line is to be cut.
    if (abandon_)
        abandon_((message_ + record_ + text.toByteArray()).left(kKeptOfTooLong), too_long_reason(most_));
    message_.clear();
    record_.clear();
    cut_ = true;
    state_ = State::Idle;
    if (log_) log_(QStringLiteral("frame refused (NAK): the message is longer than %1 bytes").arg(most_));
    return QByteArray(1, astm::kNak);
}

bool AstmLink::accept_text(QByteArrayView text, bool last) {
    // Records may end with CR, LF or CR LF (a CR LF across two frames leaves
    // a LF at the next frame's start, dropped below).
    record_ += with_cr_line_ends(text);
    if (last && !record_.endsWith(astm::kCr)) record_ += astm::kCr;
    for (qsizetype end; (end = record_.indexOf(astm::kCr)) >= 0;) {
        QByteArray record = record_.left(end + 1);
        record_.remove(0, end + 1);
        while (record.startsWith(astm::kLf))
            record.remove(0, 1);
        if (record.trimmed().isEmpty()) continue;
        const char type = char(std::toupper(quint8(record[0])));
        if (type == 'H' && !message_.isEmpty() && abandon_)
            abandon_(message_, QStringLiteral("a new message began before this one's last record"));
        if (type == 'H') message_.clear();
        message_ += record;
        if (type != 'L') continue;
        if (skip_ > 0) {
            --skip_; // stored already, before this frame was refused
        } else if (!deliver_(message_)) {
            return false;
        }
        ++delivered_this_frame_;
        message_.clear();
    }
    return true;
}
