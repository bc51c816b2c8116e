#include "support/testsupport.h"

#include "connections/connection.h"
#include "connections/connectionfolders.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QUuid>

#include <X11/Xlib.h>

void prepareClientEnvironment(const QString &settingsPath)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsPath);
    qunsetenv("SSH_ASKPASS");
    qputenv("NUVEK_BIN_DIR", QFile::encodeName(nuvekBinDir()));
}

QStringList childProcessIds(const QByteArray &program, const QByteArray &parent)
{
    QStringList found;
    const QByteArray self = parent.isEmpty() ? QByteArray::number(QCoreApplication::applicationPid()) : parent;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...: the name may hold blanks.
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('('), close = text.lastIndexOf(')');
        const QList<QByteArray> rest = text.mid(close + 2).split(' ');
        if (open > 0 && close > open && rest.size() > 1 && rest.at(0) != "Z" && rest.at(1) == self
            && (program.isEmpty() || text.mid(open + 1, close - open - 1) == program))
            found << pid;
    }
    return found;
}

QList<QMessageBox *> visibleErrorBoxes()
{
    QList<QMessageBox *> boxes;
    for (QMessageBox *box : topLevelWindows<QMessageBox>()) {
        if (box->isVisible())
            boxes << box;
    }
    return boxes;
}

QString visibleErrorBoxTexts()
{
    QStringList texts;
    for (QMessageBox *box : visibleErrorBoxes())
        texts << box->text() + QLatin1Char('\n') + box->detailedText();
    return texts.join(QLatin1String("\n----\n"));
}

using XErrorHandler = int (*)(Display *, XErrorEvent *);

XErrorsIgnored::XErrorsIgnored()
    : previous(reinterpret_cast<void *>(XSetErrorHandler([](Display *, XErrorEvent *) { return 0; })))
{
}

XErrorsIgnored::~XErrorsIgnored()
{
    XSetErrorHandler(reinterpret_cast<XErrorHandler>(previous));
}

QList<QAction *> sessionMenuActions(const QString &name)
{
    QList<QAction *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() != QLatin1String("RailSessionMenu"))
            continue;
        for (QAction *action : widget->actions()) {
            if (action->objectName() == name)
                found << action;
        }
    }
    return found;
}

QRgb widgetPixel(QWidget *widget, int x, int y)
{
    return widget->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0) | 0xFF000000u;
}

bool nearColour(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

Connection makeProfile(const QString &folder, const QString &name, const QString &host, quint16 port,
                       const QString &user, const QString &sci)
{
    Connection profile;
    profile.setUid(QUuid::createUuid());
    profile.setName(name);
    profile.setHost(host);
    profile.setPort(port);
    profile.setUser(user);
    profile.setSci(sci);
    QString error;
    if (!folder.isEmpty() && !saveConnection(connectionFilePath(folder, profile.uid()), profile, error))
        qWarning("%s", qPrintable(error));
    return profile;
}

QByteArray startXvfb(QProcess &xvfb, const QSize &screen)
{
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0",
                                        QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                                        "-nolisten", "tcp"});
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (!number.contains('\n') && xvfb.state() != QProcess::NotRunning && timer.elapsed() < 15000) {
        xvfb.waitForReadyRead(500);
        number += xvfb.readAllStandardOutput();
    }
    return number.contains('\n') ? ':' + number.trimmed() : QByteArray();
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool writeFile(const QString &path, const QByteArray &contents, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    const QFile::Permissions run = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size()
        && (!executable || file.setPermissions(file.permissions() | run));
}
