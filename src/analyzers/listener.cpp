#include "listener.h"

#include "analyzer_codes.h"
#include "investigations.h"
#include "orders.h"

#include "astm.h"
#include "escapes.h"
#include "hl7.h"
#include "order_push.h"
#include "received_message.h"
#include "spool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>


#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Keeps a complete message for good (in the spool); an empty text, or why
// it could not be (the analyzer is told so).
using Deliver = std::function<QString(const ReceivedMessage&)>;
// A query for an analyzer's work is answered from the database, off the line's
// thread: `answer` runs back on it with the reply and what the log says of it.
using Answer = std::function<void(const QByteArray& reply, const QString& what)>;
using Ask = std::function<void(const QByteArray& query, QObject* session, Answer answer)>;
// An analyzer acknowledged an order pushed to it (its channel's name).
using Acknowledged = std::function<void(const QString& analyzer, const hl7::Acknowledgement& ack)>;
struct Taking {
    AnalyzerListener::Log log;
    Deliver deliver;
    Ask ask;
    Acknowledged acknowledged;
};

// A serial line that goes away (a USB adapter pulled out, a cable fault) is
// tried again every few seconds until it is back.
constexpr int kSerialRetryMs = 5000;

// One conversation with an analyzer, over a socket or a serial line.
class Session : public QObject {
public:
    Session(const AnalyzerChannel& channel, QIODevice* device, QString peer, const Taking& take,
            int astm_timeout_ms, QObject* parent)
        : QObject(parent), channel_(channel), device_(device), peer_(std::move(peer)), log_(take.log),
          deliver_(take.deliver), ask_(take.ask), acknowledged_(take.acknowledged),
          link_(
              [this](const QByteArray& records) {
                  if (!deliver_(read_message(channel_, records)).isEmpty()) return false;
                  // A query for work is kept, and answered once the line is free.
                  // Answered from the orders only where the laboratory said so.
                  if (astm::is_query(records) && channel_.orders == AnalyzerChannel::Orders::Query)
                      ask_(records, this,
                           [this](const QByteArray& reply, const QString& what) { link_.send(reply, what); });
                  else if (astm::is_query(records))
                      link_.send(astm::no_information_reply(), QStringLiteral("no information"));
                  return true;
              },
              [this](const QByteArray& records, const QString& why) {
                  deliver_(incomplete(channel_, records, why));
              },
              [this](const QString& line) {
                  log_(QStringLiteral("%1 (%2): %3").arg(channel_.name, peer_, line));
              },
              astm_timeout_ms, channel.max_message),
          mllp_(channel.max_message) {
        clock_.start();
        connect(device_, &QIODevice::readyRead, this, [this] { read(); });
        if (auto* socket = qobject_cast<QAbstractSocket*>(device_))
            connect(socket, &QAbstractSocket::disconnected, this, [this] { closed(true); });
        // Handled once the session has finished reading the port.
        if (auto* port = qobject_cast<QSerialPort*>(device_))
            connect(
                port, &QSerialPort::errorOccurred, this,
                [this, port](QSerialPort::SerialPortError e) { line_lost(port, e); }, Qt::QueuedConnection);
        if (channel_.protocol == QLatin1String("astm")) {
            auto* timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] {
                link_.tick(clock_.elapsed());
                if (const QByteArray out = link_.take_output(clock_.elapsed()); !out.isEmpty())
                    device_->write(out);
            });
            timer->start(std::min(1000, std::max(50, astm_timeout_ms / 10)));
        }
        read();
    }

    const AnalyzerChannel& channel() const { return channel_; }

    // An order sent unasked over this connection; false when it is closed.
    bool push(const QByteArray& message) {
        if (!device_->isOpen() || !device_->isWritable()) return false;
        if (auto* socket = qobject_cast<QAbstractSocket*>(device_);
            socket && socket->state() != QAbstractSocket::ConnectedState)
            return false;
        device_->write(hl7::frame(message));
        return true;
    }

private:
    void read() {
        const QByteArray bytes = device_->readAll();
        if (bytes.isEmpty()) return;
        if (channel_.protocol == QLatin1String("astm")) {
            const QByteArray reply =
                link_.receive(bytes, clock_.elapsed()) + link_.take_output(clock_.elapsed());
            if (!reply.isEmpty()) device_->write(reply);
            if (link_.take_cut()) cut();
            return;
        }
        const QList<QByteArray> messages = mllp_.feed(bytes);
        if (const auto too_long = mllp_.take_too_long()) {
            deliver_(incomplete(channel_, *too_long, too_long_reason(channel_.max_message)));
            return cut();
        }
        for (const QByteArray& raw : messages) {
            // An analyzer that takes pushed orders acknowledges each: no message to keep.
            if (channel_.orders == AnalyzerChannel::Orders::Push)
                if (const auto ack = hl7::read_acknowledgement(raw)) {
                    acknowledged_(channel_.name, *ack);
                    continue;
                }
            const ReceivedMessage message = read_message(channel_, raw);
            // Noise (no MSH at all) is kept once a connection, with why; the
            // rest of it only counted, so that a line of random bytes does not
            // fill the table.
            if (is_noise(raw) && std::exchange(noise_kept_, true)) {
                ++noise_dropped_;
                device_->write(hl7::frame(hl7::acknowledgement(raw, "AR", message.problem)));
                continue;
            }
            const QString failure = deliver_(message);
            // Acknowledged only now that it is kept for good (or could not be).
            const QByteArray ack = !failure.isEmpty() ? hl7::acknowledgement(raw, "AE", failure)
                                   : message.problem.isEmpty()
                                       ? hl7::acknowledgement(raw, "AA")
                                       : hl7::acknowledgement(raw, "AR", message.problem);
            device_->write(hl7::frame(ack));
        }
    }

    // A message past the bound: a connection is cut (what it sends is not
    // read any further); a serial line cannot be, and its link refuses the
    // rest of the transfer.
    void cut() {
        log_(QStringLiteral("%1 (%2): a message longer than %3 bytes; the connection is cut")
                 .arg(channel_.name, peer_)
                 .arg(channel_.max_message));
        if (auto* socket = qobject_cast<QAbstractSocket*>(device_)) socket->disconnectFromHost();
    }

    // The analyzer hung up, or the line went away (nothing more is read from
    // it then): what it sent of an unfinished message is kept.
    void closed(bool read_rest) {
        if (read_rest) read();
        link_.line_closed();
        if (mllp_.inside_message() && !(is_noise(mllp_.unfinished()) && noise_kept_))
            deliver_(incomplete(channel_, mllp_.unfinished(),
                                QStringLiteral("the connection closed before the message's end")));
        else if (mllp_.inside_message())
            ++noise_dropped_;
        if (noise_dropped_ > 0)
            log_(QStringLiteral("%1 (%2): %3 more runs of bytes that were no message, not kept")
                     .arg(channel_.name, peer_)
                     .arg(noise_dropped_));
        noise_kept_ = false;
        noise_dropped_ = 0;
        mllp_ = hl7::MllpReader(channel_.max_message);
    }

    static bool is_noise(const QByteArray& raw) { return !raw.trimmed().startsWith("MSH"); }

    // A pseudo-terminal whose other end closed reads as a ReadError, a device
    // pulled out as a ResourceError: the port is closed and opened again
    // every few seconds until the line is back.
    void line_lost(QSerialPort* port, QSerialPort::SerialPortError e) {
        if ((e != QSerialPort::ResourceError && e != QSerialPort::ReadError) || !port->isOpen()) return;
        log_(QStringLiteral("%1: the serial line %2 went away (%3); trying it again every %4 s")
                 .arg(channel_.name, peer_, port->errorString())
                 .arg(kSerialRetryMs / 1000));
        closed(false);
        port->close();
        auto* retry = new QTimer(this);
        connect(retry, &QTimer::timeout, this, [this, port, retry] {
            if (!port->open(QIODevice::ReadWrite)) return;
            retry->deleteLater();
            log_(QStringLiteral("%1: the serial line %2 is back").arg(channel_.name, peer_));
        });
        retry->start(kSerialRetryMs);
    }

    AnalyzerChannel channel_;
    QIODevice* device_;
    QString peer_;
    AnalyzerListener::Log log_;
    Deliver deliver_;
    Ask ask_;
    Acknowledged acknowledged_;
    AstmLink link_;
    hl7::MllpReader mllp_;
    bool noise_kept_ = false; // this connection's noise has its row
    int noise_dropped_ = 0;
    QElapsedTimer clock_;
};

// A folder an analyzer writes its messages into, one file each: a file is
// read once its size has stood still for a look, spooled, and moved into the
// folder's "stored" subfolder. A file that cannot be spooled stays for the next look.
class FolderWatch : public QObject {
public:
    FolderWatch(const AnalyzerChannel& channel, const Taking& take, QObject* parent)
        : QObject(parent), channel_(channel), log_(take.log), deliver_(take.deliver) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { look(); });
        timer->start(1000);
    }

    void look() {
        QDir dir(channel_.folder);
        QHash<QString, qint64> sizes;
        struct stat folder {};
        if (::stat(QFile::encodeName(dir.absolutePath()).constData(), &folder) != 0) return;
        // Links are never followed (a link could lead anywhere on the system).
        for (const QFileInfo& f :
             dir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name)) {
            sizes.insert(f.fileName(), f.size());
            if (seen_.value(f.fileName(), -1) != f.size()) continue; // still being written
            const auto bytes = take_file(f, folder.st_gid);
            if (!bytes) continue;
            // An HL7 file may hold its message in an MLLP frame.
            const QList<QByteArray> framed = channel_.protocol == QLatin1String("hl7") && !bytes->too_long
                                                 ? hl7::MllpReader(channel_.max_message).feed(bytes->text)
                                                 : QList<QByteArray>();
            ReceivedMessage m = bytes->too_long
                                    ? incomplete(channel_, bytes->text, too_long_reason(channel_.max_message))
                                    : read_message(channel_, framed.isEmpty() ? bytes->text : framed[0]);
            m.raw = bytes->text;
            log_(QStringLiteral("%1: received the file %2").arg(channel_.name, f.fileName()));
            if (!deliver_(m).isEmpty()) continue;
            dir.mkpath(QStringLiteral("stored"));
            const QString done = dir.filePath(QStringLiteral("stored/") + f.fileName());
            QFile::remove(done);
            if (!QFile::rename(f.filePath(), done)) {
                // Never read twice: a file that cannot be moved goes (it is stored).
                log_(QStringLiteral("%1: %2 could not be moved into \"stored\"; it is removed")
                         .arg(channel_.name, f.fileName()));
                QFile::remove(f.filePath());
            }
            sizes.remove(f.fileName());
        }
        seen_ = sizes;
    }

private:
    struct FileText {
        QByteArray text;
        bool too_long = false; // only its first kKeptOfTooLong bytes read
    };

    // A file's bytes, when it is a regular file (opened without following a
    // link, so that nothing can be swapped in between the look and the read)
    // whose owner is of the folder's group (the laboratory's); nothing
    // otherwise, said once in the log.
    std::optional<FileText> take_file(const QFileInfo& f, gid_t group) {
        const int fd = ::open(QFile::encodeName(f.filePath()).constData(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        QString refusal;
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            refusal = QStringLiteral("not a regular file");
        else if (!of_group(st.st_uid, group))
            refusal = QStringLiteral("its owner is not of the folder's group");
        if (!refusal.isEmpty()) {
            if (fd >= 0) ::close(fd);
            if (!refused_.contains(f.fileName()))
                log_(QStringLiteral("%1: the file %2 is not taken (%3)")
                         .arg(channel_.name, f.fileName(), refusal));
            refused_.insert(f.fileName());
            return std::nullopt;
        }
        FileText out;
        out.too_long = st.st_size > channel_.max_message;
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return std::nullopt;
        }
        out.text = file.read(out.too_long ? kKeptOfTooLong : channel_.max_message + 1);
        return out;
    }

    static bool of_group(uid_t uid, gid_t group) {
        const passwd* user = ::getpwuid(uid);
        if (!user) return false;
        if (user->pw_gid == group) return true;
        const struct group* g = ::getgrgid(group);
        for (char** member = g ? g->gr_mem : nullptr; member && *member; ++member)
            if (qstrcmp(*member, user->pw_name) == 0) return true;
        return false;
    }

    QSet<QString> refused_;
    AnalyzerChannel channel_;
    AnalyzerListener::Log log_;
    Deliver deliver_;
    QHash<QString, qint64> seen_;
};

} // namespace

namespace {

// Opens one channel in the receiving thread; why it could not be, or nothing.
QString open_channel(const AnalyzerChannel& c, const Taking& take, int timeout, QObject* owner) {
    const AnalyzerListener::Log& log = take.log;
    if (c.port >= 0) {
        auto* server = new QTcpServer(owner);
        if (!server->listen(QHostAddress::Any, quint16(c.port)))
            return QStringLiteral("%1: cannot listen on port %2: %3")
                .arg(c.name)
                .arg(c.port)
                .arg(server->errorString());
        QObject::connect(server, &QTcpServer::newConnection, server, [server, c, take, timeout] {
            while (QTcpSocket* socket = server->nextPendingConnection()) {
                bool v4 = false;
                const quint32 address = socket->peerAddress().toIPv4Address(&v4);
                const QString peer =
                    QStringLiteral("%1:%2")
                        .arg(v4 ? QHostAddress(address).toString() : socket->peerAddress().toString())
                        .arg(socket->peerPort());
                take.log(QStringLiteral("%1: %2 connected").arg(c.name, peer));
                new Session(c, socket, peer, take, timeout, socket);
                QObject::connect(socket, &QTcpSocket::disconnected, socket,
                                 [socket, c, peer, log = take.log] {
                                     log(QStringLiteral("%1: %2 disconnected").arg(c.name, peer));
                                     socket->deleteLater();
                                 });
            }
        });
        log(QStringLiteral("%1: listening for %2 on port %3")
                .arg(c.name, c.protocol.toUpper())
                .arg(server->serverPort()));
    } else if (!c.serial.isEmpty()) {
        auto* port = new QSerialPort(c.serial, owner);
        port->setBaudRate(c.baud);
        port->setParity(*parity_named(c.parity));
        port->setDataBits(QSerialPort::DataBits(c.data_bits));
        port->setStopBits(c.stop_bits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        if (!port->open(QIODevice::ReadWrite)) {
            const QString why =
                QStringLiteral("%1: cannot open %2: %3").arg(c.name, c.serial, port->errorString());
            delete port;
            return why;
        }
        new Session(c, port, c.serial, take, timeout, port);
        log(QStringLiteral("%1: listening for %2 on %3 (%4 baud)")
                .arg(c.name, c.protocol.toUpper(), c.serial)
                .arg(c.baud));
    } else {
        if (!QDir(c.folder).exists())
            return QStringLiteral("%1: the folder %2 does not exist").arg(c.name, c.folder);
        new FolderWatch(c, take, owner);
        log(QStringLiteral("%1: watching the folder %2 for %3 files")
                .arg(c.name, c.folder, c.protocol.toUpper()));
    }
    return {};
}

// How often a drain that the database could not take tries again.
constexpr int kDrainRetryMs = 1000;

} // namespace

// The analyzers are answered in a thread of their own, which never waits for
// the database: a message is spooled there and answered. This thread (the
// database's) drains the spool into the database.
struct AnalyzerListener::Impl {
    Impl(QList<AnalyzerChannel> c, int timeout, const QString& spool_folder)
        : channels(std::move(c)), timeout_ms(timeout), spool(spool_folder) {}
    QList<AnalyzerChannel> channels;
    Log log;
    int timeout_ms;
    Spool spool;
    QThread receiving;
    QObject* receivers = nullptr; // lives in `receiving`
    QTimer retry;
    QList<QTimer*> pushing; // one per channel whose orders are pushed
    QString push_failure;   // why the orders could not be read at the last look; empty: they could
    std::atomic_bool drain_asked{false};
    QString holding_back; // why the database took nothing at the last try; empty: it takes them
};

AnalyzerListener::AnalyzerListener(QList<AnalyzerChannel> channels, Log log, const QString& spool_folder,
                                   int astm_timeout_ms, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>(std::move(channels), astm_timeout_ms, spool_folder)) {
    // The log is written from both threads, a line at a time.
    auto lock = std::make_shared<QMutex>();
    impl_->log = [log = std::move(log), lock](const QString& line) {
        QMutexLocker hold(lock.get());
        log(line);
    };
    impl_->retry.setSingleShot(true);
    connect(&impl_->retry, &QTimer::timeout, this, [this] { drain(); });
}

AnalyzerListener::~AnalyzerListener() {
    if (impl_->receivers)
        QMetaObject::invokeMethod(
            impl_->receivers, [r = impl_->receivers] { delete r; }, Qt::BlockingQueuedConnection);
    impl_->receiving.quit();
    impl_->receiving.wait();
}

QString AnalyzerListener::open_spool() {
    if (QString why = impl_->spool.open(); !why.isEmpty()) return why;
    impl_->log(QStringLiteral("spool: %1 (%2 message(s) waiting from before)")
                   .arg(impl_->spool.folder())
                   .arg(impl_->spool.waiting().size()));
    drain();
    return {};
}

QStringList AnalyzerListener::start() {
    Taking take{
        impl_->log,
        [this](const ReceivedMessage& m) {
            const QString failure = impl_->spool.put(m);
            if (!failure.isEmpty())
                impl_->log(QStringLiteral("%1: a message was NOT taken (%2)").arg(m.analyzer, failure));
            else if (!impl_->drain_asked.exchange(true))
                QMetaObject::invokeMethod(
                    this, [this] { drain(); }, Qt::QueuedConnection);
            return failure;
        },
        [this](const QByteArray& query, QObject* session, Answer answer) {
            // Read on this (the database's) thread, answered on the line's.
            QPointer<QObject> alive(session);
            QMetaObject::invokeMethod(
                this,
                [query, alive, answer] {
                    const auto [reply, what] = query_answer(query);
                    if (alive)
                        QMetaObject::invokeMethod(
                            alive.data(), [answer, reply, what] { answer(reply, what); },
                            Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
        },
        [this](const QString& analyzer, const hl7::Acknowledgement& ack) {
            QMetaObject::invokeMethod(
                this, [this, analyzer, ack] { take_acknowledgement(analyzer, ack); }, Qt::QueuedConnection);
        }};
    impl_->receiving.setObjectName(QStringLiteral("receiving"));
    impl_->receiving.start();
    impl_->receivers = new QObject;
    impl_->receivers->moveToThread(&impl_->receiving);
    QStringList problems;
    const int timeout = impl_->timeout_ms;
    QMetaObject::invokeMethod(
        impl_->receivers,
        [&] {
            for (const AnalyzerChannel& c : impl_->channels)
                if (const QString why = open_channel(c, take, timeout, impl_->receivers); !why.isEmpty())
                    problems << why;
        },
        Qt::BlockingQueuedConnection);
    for (const AnalyzerChannel& c : impl_->channels) {
        if (c.orders != AnalyzerChannel::Orders::Push) continue;
        auto* look = new QTimer(this);
        connect(look, &QTimer::timeout, this, [this, c] { push_orders(c); });
        look->start(c.push_every_s * 1000);
        impl_->pushing << look;
        impl_->log(QStringLiteral("%1: orders are pushed to it (OML^O21), looked for every %2 s")
                       .arg(c.name)
                       .arg(c.push_every_s));
    }
    return problems;
}

void AnalyzerListener::push_orders(const AnalyzerChannel& channel) {
    const auto due = orders_to_push(channel);
    if (!due.ok()) {
        if (due.error.description != std::exchange(impl_->push_failure, due.error.description))
            impl_->log(QStringLiteral("%1: the orders to push cannot be read (%2); trying again")
                           .arg(channel.name, due.error.description));
        return;
    }
    impl_->push_failure.clear();
    if (due.value.isEmpty()) return;
    // Written by the line's thread to a connection of the analyzer; only what
    // went out is noted as sent (the rest waits for the analyzer to connect).
    QMetaObject::invokeMethod(
        impl_->receivers,
        [this, name = channel.name, orders = due.value, receivers = impl_->receivers] {
            Session* to = nullptr;
            for (QObject* o : receivers->findChildren<QObject*>())
                if (auto* session = dynamic_cast<Session*>(o); session && session->channel().name == name)
                    to = session; // the newest connection
            QList<OrderPush> sent;
            for (const OrderPush& order : orders)
                if (to && to->push(order.message)) sent << order;
            if (sent.isEmpty()) return;
            QMetaObject::invokeMethod(
                this,
                [this, name, sent] {
                    for (const OrderPush& order : sent) {
                        const DbError noted =
                            note_pushed(order.accession, name, QString::fromLatin1(order.control_id));
                        impl_->log(QStringLiteral("%1: sent the order %2 (%3)%4")
                                       .arg(name, accession_text(order.accession),
                                            QString::fromLatin1(order.control_id),
                                            noted.ok() ? QString()
                                                       : QStringLiteral("; not noted, so sent again: ") +
                                                             noted.description));
                    }
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void AnalyzerListener::take_acknowledgement(const QString& analyzer, const hl7::Acknowledgement& ack) {
    const QString control = QString::fromLatin1(ack.control_id);
    if (!ack.accepted()) {
        // Refused: logged, and sent again later (the laboratory sees why in the log).
        impl_->log(QStringLiteral("%1: the order %2 was not accepted (%3%4)")
                       .arg(analyzer, control, QString::fromLatin1(ack.code),
                            ack.text.isEmpty() ? QString() : QStringLiteral(": ") + ack.text));
        return;
    }
    const DbError e = note_push_acknowledged(analyzer, control);
    impl_->log(e.ok() ? QStringLiteral("%1: the order %2 was acknowledged").arg(analyzer, control)
                      : QStringLiteral("%1: the order %2 was acknowledged, but not noted (%3)")
                            .arg(analyzer, control, e.description));
}

void AnalyzerListener::drain() {
    impl_->drain_asked = false;
    // While the database takes nothing, only the retry tries again.
    if (!impl_->holding_back.isEmpty() && impl_->retry.isActive()) return;
    const QStringList files = impl_->spool.waiting();
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& file = files[i];
        const auto message = Spool::read(file);
        if (!message) {
            impl_->log(
                QStringLiteral("spool: %1 is no message it can read; moved into \"unreadable\"").arg(file));
            impl_->spool.set_aside(file);
            continue;
        }
        const QString failure = store_message(*message, impl_->log);
        if (!failure.isEmpty()) {
            if (failure != impl_->holding_back)
                impl_->log(QStringLiteral("spool: %1 message(s) wait: the database takes nothing now (%2); "
                                          "trying again every %3 s")
                               .arg(files.size() - i)
                               .arg(failure)
                               .arg(kDrainRetryMs / 1000));
            impl_->holding_back = failure;
            impl_->retry.start(kDrainRetryMs);
            return;
        }
        impl_->spool.remove(file);
    }
    if (!impl_->holding_back.isEmpty())
        impl_->log(
            QStringLiteral("spool: the database takes messages again; every waiting message is stored"));
    impl_->holding_back.clear();
}
