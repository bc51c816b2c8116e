#include "app/cookie.h"

#include <QCoreApplication>

#include <cerrno>
#include <sys/random.h>

bool generateRandomBytes(int count, QByteArray &out, QString &error)
{
    if (count < 0) {
        error = QCoreApplication::translate("cookie", "Opening crypto context failed");
        return false;
    }
    QByteArray buffer(count, Qt::Uninitialized);
    int filled = 0;
    while (filled < count) {
        const ssize_t n = getrandom(buffer.data() + filled, size_t(count - filled), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // ENOSYS: the kernel has no random source for us at all.
            error = errno == ENOSYS
                ? QCoreApplication::translate("cookie", "Opening crypto context failed")
                : QCoreApplication::translate("cookie", "Generating cookie failed");
            return false;
        }
        filled += int(n);
    }
    out = buffer;
    return true;
}

bool generateCookie(QString &cookie, QString &error)
{
    QByteArray bytes;
    if (!generateRandomBytes(16, bytes, error))
        return false;
    cookie = QString::fromLatin1(bytes.toHex());
    return true;
}
