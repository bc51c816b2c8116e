#include "support/childprocesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

QStringList childProcessIds(const QByteArray &program)
{
    QStringList found;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('('), close = text.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = text.mid(close + 2).split(' ');
        if (text.mid(open + 1, close - open - 1) == program && rest.size() > 1
            && rest.at(0) != "Z" && rest.at(1) == self)
            found << pid;
    }
    return found;
}
