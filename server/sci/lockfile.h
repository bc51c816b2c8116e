#pragma once

#include <QByteArray>
#include <QString>

// A lock file that orders changes made by several programs, also on several
// hosts sharing one home folder. The file names its holder (host name, process
// id, process start time, boot); a lock whose holder is known to be gone is
// taken over at once, one that cannot be checked from here (another host, an
// empty or broken file) once it has stayed unchanged for a few seconds.
class LockFile
{
public:
    explicit LockFile(const QString &path);
    ~LockFile();
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    bool tryLock(int timeoutMs);
    void unlock();
    bool isLocked() const { return m_locked; }

    // This host's name as it appears in lock files and folder names.
    static QString hostName();

private:
    bool create();
    enum class Holder { Running, Gone, Unknown };
    // What is known of the holder named by the file's contents.
    static Holder checkHolder(const QByteArray &holder);

    QString m_path;
    QByteArray m_identity;
    bool m_locked = false;
};
