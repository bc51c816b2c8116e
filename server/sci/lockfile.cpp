#include "lockfile.h"

#include "processtools.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSysInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// How long a lock that cannot be checked must stay unchanged to count as left
// behind. Every change under a lock takes far less.
constexpr int UncheckableStaleMs = 5000;

// The contents of the lock file, or a null array when there is none.
QByteArray readHolder(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? QByteArray("") : QByteArray();
    QByteArray text = file.read(4096);
    if (text.isNull())
        text = QByteArray("");
    return text;
}

} // namespace

LockFile::LockFile(const QString &path) : m_path(path)
{
    const ProcessRef self = ProcessRef::of(::getpid());
    m_identity = hostName().toUtf8() + '\n' + QByteArray::number(self.pid) + '\n'
        + QByteArray::number(self.startTime) + '\n' + self.bootId.toLatin1() + '\n';
}

LockFile::~LockFile()
{
    unlock();
}

QString LockFile::hostName()
{
    QString name = QSysInfo::machineHostName();
    for (QChar &c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('.')
            && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("host"));
    return name;
}

bool LockFile::create()
{
    const QByteArray path = QFile::encodeName(m_path);
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        // Its folder may just have been removed as empty by another program.
        ::mkdir(QFile::encodeName(QFileInfo(m_path).path()).constData(), 0700);
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, m_identity.constData(), size_t(m_identity.size()));
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(path.constData());
        return false;
    }
    return true;
}

LockFile::Holder LockFile::checkHolder(const QByteArray &holder)
{
    const QList<QByteArray> fields = holder.split('\n');
    bool pidOk = false, startOk = false;
    ProcessRef ref;
    if (fields.size() >= 3) {
        ref.pid = fields[1].toLongLong(&pidOk);
        ref.startTime = fields[2].toULongLong(&startOk);
        ref.bootId = QString::fromLatin1(fields.value(3));
    }
    if (!pidOk || !startOk || ref.pid <= 0 || QString::fromUtf8(fields[0]) != hostName())
        return Holder::Unknown;
    return ref.isAlive() ? Holder::Running : Holder::Gone;
}

bool LockFile::tryLock(int timeoutMs)
{
    if (m_locked)
        return true;
    const qint64 deadline = monotonicMs() + timeoutMs;
    QByteArray watched;
    qint64 watchedSince = 0;
    for (;;) {
        if (create()) {
            m_locked = true;
            return true;
        }
        const QByteArray holder = readHolder(m_path);
        if (!holder.isNull()) {
            const Holder state = checkHolder(holder);
            bool stale = state == Holder::Gone;
            if (state == Holder::Unknown) {
                // Nothing to check here: stale once it stays the same for a while.
                if (holder != watched || watchedSince == 0) {
                    watched = holder;
                    watchedSince = monotonicMs();
                }
                stale = monotonicMs() - watchedSince >= UncheckableStaleMs;
            }
            if (stale) {
                // Move it out of the way under a name of our own, so of several
                // programs that found it only one removes it; put back what
                // turns out to be a fresh lock taken meanwhile.
                const QList<QByteArray> self = m_identity.split('\n');
                const QByteArray aside = QFile::encodeName(m_path) + ".stale." + self.value(0) + '.' + self.value(1);
                watchedSince = 0;
                if (::rename(QFile::encodeName(m_path).constData(), aside.constData()) == 0) {
                    if (readHolder(QFile::decodeName(aside)) != holder)
                        (void)::link(aside.constData(), QFile::encodeName(m_path).constData());
                    ::unlink(aside.constData());
                    continue;
                }
            }
        }
        if (monotonicMs() >= deadline)
            return false;
        sleepMs(50);
    }
}

void LockFile::unlock()
{
    if (!m_locked)
        return;
    // Remove it only while it is still ours.
    if (readHolder(m_path) == m_identity)
        QFile::remove(m_path);
    m_locked = false;
}
