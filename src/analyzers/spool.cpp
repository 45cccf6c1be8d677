#include "spool.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr quint32 kMagic = 0x54565350; // "TVSP"
constexpr quint16 kFormat = 1;
const QString kPartSuffix = QStringLiteral(".part");
constexpr int kNameDigits = 16;

bool sync_path(const QString& path, int flags) {
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

QByteArray serialised(const ReceivedMessage& m) {
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_0);
    s << kMagic << kFormat << m.analyzer << m.protocol << m.raw << m.problem << m.key
      << qint32(m.results.size());
    for (const AnalyzerResult& r : m.results)
        s << r.lab_id << r.code << r.value << r.units << r.flag << r.test_id << r.status << r.qc;
    return out;
}

} // namespace

Spool::Spool(QString folder) : folder_(std::move(folder)) {}

Spool::~Spool() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
}

QString Spool::open() {
    if (!QDir().mkpath(folder_)) return QStringLiteral("the spool folder %1 cannot be made").arg(folder_);
    const QString lock = folder_ + QStringLiteral("/.lock");
    lock_fd_ = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (lock_fd_ < 0) return QStringLiteral("the spool folder %1 cannot be written").arg(folder_);
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0)
        return QStringLiteral("another tavora-lab-analyzer uses the spool folder %1 (give this one "
                              "--spool FOLDER)")
            .arg(folder_);
    QDir dir(folder_);
    // A write cut short was never acknowledged: its analyzer sends it again.
    for (const QString& part : dir.entryList({QStringLiteral("*") + kPartSuffix}, QDir::Files | QDir::Hidden))
        dir.remove(part);
    const QStringList files = waiting();
    if (!files.isEmpty()) next_ = QFileInfo(files.last()).baseName().toULongLong() + 1;
    return {};
}

QString Spool::put(ReceivedMessage message) {
    // A message is named for good here, so that taking it twice stores it once.
    if (message.key.isEmpty())
        message.key = QStringLiteral("spool:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray bytes = serialised(message);
    QMutexLocker hold(&mutex_);
    const QString name = QString::number(next_).rightJustified(kNameDigits, u'0');
    const QString part = folder_ + QStringLiteral("/.") + name + kPartSuffix;
    const QString done = folder_ + u'/' + name + QLatin1String(kSpooledSuffix);
    QFile f(part);
    // Patients' results: readable by the laboratory's group only.
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup) &&
              f.write(bytes) == bytes.size() && f.flush() && ::fsync(f.handle()) == 0;
    f.close();
    ok = ok && ::rename(QFile::encodeName(part).constData(), QFile::encodeName(done).constData()) == 0 &&
         sync_path(folder_, O_RDONLY | O_DIRECTORY);
    if (!ok) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        QFile::remove(part);
        return QStringLiteral("the spool folder %1 cannot take it (%2)").arg(folder_, why);
    }
    ++next_;
    return {};
}

QStringList Spool::waiting() const {
    QStringList out;
    QDir dir(folder_);
    for (const QString& name :
         dir.entryList({QStringLiteral("*") + QLatin1String(kSpooledSuffix)}, QDir::Files, QDir::Name))
        out << dir.filePath(name);
    return out;
}

std::optional<ReceivedMessage> Spool::read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    QDataStream s(&f);
    s.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint16 format = 0;
    qint32 count = 0;
    ReceivedMessage m;
    s >> magic >> format;
    if (magic != kMagic || format != kFormat) return std::nullopt;
    s >> m.analyzer >> m.protocol >> m.raw >> m.problem >> m.key >> count;
    for (qint32 i = 0; i < count && s.status() == QDataStream::Ok; ++i) {
        AnalyzerResult r;
        s >> r.lab_id >> r.code >> r.value >> r.units >> r.flag >> r.test_id >> r.status >> r.qc;
        m.results << r;
    }
    if (s.status() != QDataStream::Ok || count < 0 || !s.atEnd()) return std::nullopt;
    return m;
}

void Spool::remove(const QString& path) const {
    QFile::remove(path);
}

void Spool::set_aside(const QString& path) const {
    QDir(folder_).mkpath(QStringLiteral("unreadable"));
    const QString aside = folder_ + QStringLiteral("/unreadable/") + QFileInfo(path).fileName();
    QFile::remove(aside);
    QFile::rename(path, aside);
}
