#pragma once

#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QList>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

class Connection;
class QAction;
class QMessageBox;

// Folder that holds nuvek, plink, askpass and the server program of this build.
inline QString nuvekBinDir() { return QStringLiteral(NUVEK_BIN_DIR); }

// Sets up this process like the client for tests that run the real link: the application's
// names, settings kept as INI files under settingsPath, NUVEK_BIN_DIR pointing at this build's
// helper programs, and no SSH_ASKPASS of the caller's (SshDevice then hands plink our own).
void prepareClientEnvironment(const QString &settingsPath);

// The process ids of the living children of `parent` (default: this process) whose program
// is `program` (as /proc/<pid>/stat names it; empty: any).
QStringList childProcessIds(const QByteArray &program, const QByteArray &parent = QByteArray());

// The error boxes on screen now (visible top-level message boxes), oldest first, and their
// texts with details, for failure messages.
QList<QMessageBox *> visibleErrorBoxes();
QString visibleErrorBoxTexts();

// The top-level windows of class T still alive (pending deletions run first).
template<class T>
QList<T *> topLevelWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<T *>(widget))
            found << window;
    }
    return found;
}

// The actions of that name in the menus of the rootless sessions now open.
QList<QAction *> sessionMenuActions(const QString &name);

// A widget's pixel as it paints it; colours compared with the tolerance of a lossy codec.
QRgb widgetPixel(QWidget *widget, int x, int y);
bool nearColour(QRgb a, QRgb b, int tolerance = 8);

// A profile for host:port as user; saved into `folder` unless that is empty.
Connection makeProfile(const QString &folder, const QString &name, const QString &host, quint16 port,
                       const QString &user, const QString &sci = QString());

// Starts Xvfb on a free display of that size; returns ":N", or empty when it failed.
QByteArray startXvfb(QProcess &xvfb, const QSize &screen);
// While it lives, X errors of the program's own Xlib connections are ignored: a window may
// go away between listing it and asking about it.
class XErrorsIgnored
{
public:
    XErrorsIgnored();
    ~XErrorsIgnored();
    XErrorsIgnored(const XErrorsIgnored &) = delete;
    XErrorsIgnored &operator=(const XErrorsIgnored &) = delete;

private:
    void *previous;
};

// Writes a file, its folder made first; `executable` lets everyone run it.
bool writeFile(const QString &path, const QByteArray &contents, bool executable = false);
// Ends a process the test started: TERM, then KILL.
void stopProcess(QProcess &process);
