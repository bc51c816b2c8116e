// A single-application session end to end: our plink logs in to a private sshd, the real
// nuvek2_sci starts a rootless session (Xvnc and nuvek2_rdp, no window manager) running two
// small X programs, and the client shows their windows as windows of its own, here on a
// private Xvfb managed by a real window manager. The session's display is looked at directly.

#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "support/privatexserver.h"
#include "support/sessionstack.h"
#include "support/testsupport.h"
#include "windows/rdprailwidget.h"

#include <QAction>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

const QRgb Red = qRgb(0xE0, 0x30, 0x10);
const QRgb Blue = qRgb(0x20, 0x50, 0xC0);

struct RemoteWindow
{
    QString title;
    Window id = 0;
    QRect geometry;
    bool viewable = false;
};

// The session's top-level windows with a name, bottom to top.
QList<RemoteWindow> remoteWindows(const SessionInfo &session)
{
    QList<RemoteWindow> found;
    const XErrorsIgnored windowsMayGo;
    qputenv("XAUTHORITY", QFile::encodeName(session.dir + "/Xauthority"));
    Display *d = XOpenDisplay(session.display.constData());
    if (!d)
        return found;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        char *name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(d, children[i], &name) && name && XGetWindowAttributes(d, children[i], &attributes)) {
            found << RemoteWindow{QString::fromUtf8(name), children[i],
                                  QRect(attributes.x, attributes.y, attributes.width, attributes.height),
                                  attributes.map_state == IsViewable};
        }
        XFree(name);
    }
    XFree(children);
    XCloseDisplay(d);
    return found;
}

RemoteWindow remoteWindow(const SessionInfo &session, const QString &title)
{
    for (const RemoteWindow &window : remoteWindows(session)) {
        if (window.title == title)
            return window;
    }
    return RemoteWindow();
}

// Titles of the session's viewable windows, bottom to top.
QStringList remoteStacking(const SessionInfo &session)
{
    QStringList titles;
    for (const RemoteWindow &window : remoteWindows(session)) {
        if (window.viewable)
            titles << window.title;
    }
    return titles;
}

void moveRemote(const SessionInfo &session, Window window, const QPoint &to)
{
    Display *d = XOpenDisplay(session.display.constData());
    XMoveWindow(d, window, to.x(), to.y());
    XCloseDisplay(d);
}

RdpRailWidget *localWindow(const QString &title)
{
    for (RdpRailWidget *window : topLevelWindows<RdpRailWidget>()) {
        if (window->windowTitle() == title && window->isVisible())
            return window;
    }
    return nullptr;
}

QStringList localTitles()
{
    QStringList titles;
    for (RdpRailWidget *window : topLevelWindows<RdpRailWidget>())
        titles << window->windowTitle();
    titles.sort();
    return titles;
}

// Real key presses on our own display, as the window manager's focus routes them.
bool typeLocally(const QString &text)
{
    QProcess xdotool;
    xdotool.start("xdotool", {"type", "--delay", "60", text});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

// Activates a window of ours as a user's click would, and waits for the window manager.
bool activate(QWidget *window)
{
    window->raise();
    window->activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == window; }, 5000);
}

} // namespace

class TestRootless : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowsAppearInPlace();
    void movesGoBothWays();
    void raisingRestacks();
    void windowCommands();
    void typingAndWindowsComingAndGoing();
    void closeEndsTheProgram();
    void disconnectFromTheSessionMenu();

private:
    QString keys(const QString &name) const;
    int geometryReports(Window window) const;

    QTemporaryDir settings;
    SessionStack stack;
    SessionInfo session;
    std::unique_ptr<RdpInstance> rdp;
};

void TestRootless::initTestCase()
{
    prepareClientEnvironment(settings.path());
    if (QGuiApplication::platformName() != QLatin1String("xcb") || QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs Xvfb, openbox and xdotool");
    START_SESSION_STACK(stack);
    const QString probe = QCoreApplication::applicationDirPath() + "/railprobe";
    const QString command = QStringLiteral("'%1' Red e03010 200x150+100+120 '%2/red.keys' & "
                                           "exec '%1' Blue 2050c0 240x160+420+200 '%2/blue.keys'")
                                .arg(probe, stack.dataHome());
    session = stack.startSession("rootless", command, "rootless");
    QVERIFY(session.port);
    QCOMPARE(session.windowMode, QStringLiteral("rootless"));
    rdp = stack.connectViewer(session, "rootless");
    QVERIFY(rdp->isConnected());
}

void TestRootless::cleanupTestCase()
{
    rdp.reset();
    stack.stop({"rootless"});
}

QString TestRootless::keys(const QString &name) const
{
    QFile file(stack.dataHome() + "/" + name + ".keys");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Geometry messages the server received for a window.
int TestRootless::geometryReports(Window window) const
{
    QByteArray id;
    for (int shift = 0; shift < 32; shift += 8)
        id += " " + QByteArray::number(int((window >> shift) & 0xFF), 16).rightJustified(2, '0');
    return int(stack.rdpLog(session).count("oxrail received 28 bytes: 05 00 00 00 14 00 00 00" + id));
}

// Each remote window becomes a window of ours at its place, showing its own pixels.
void TestRootless::windowsAppearInPlace()
{
    QTRY_COMPARE_WITH_TIMEOUT(localTitles(), QStringList({"Blue", "Red"}), 20000);
    for (const auto &[title, colour] : {qMakePair(QStringLiteral("Red"), Red), qMakePair(QStringLiteral("Blue"), Blue)}) {
        RdpRailWidget *window = localWindow(title);
        QVERIFY(window);
        const RemoteWindow remote = remoteWindow(session, title);
        QTRY_COMPARE_WITH_TIMEOUT(window->geometry(), remote.geometry, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(nearColour(widgetPixel(window, 5, 5), colour), 10000);
        QVERIFY(nearColour(widgetPixel(window, window->width() - 5, window->height() - 5), colour));
    }
}

// A local move or resize moves the remote window; the server's own move comes back to us
// without being reported again.
void TestRootless::movesGoBothWays()
{
    RdpRailWidget *red = localWindow("Red");
    QVERIFY(red);
    const QRect wanted(160, 180, 260, 170);
    red->setGeometry(wanted);
    QTRY_COMPARE_WITH_TIMEOUT(remoteWindow(session, "Red").geometry, wanted, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(nearColour(widgetPixel(red, red->width() - 5, red->height() - 5), Red), 10000);

    const RemoteWindow remote = remoteWindow(session, "Red");
    QTest::qWait(500); // the last report of the move
    const int reports = geometryReports(remote.id);
    QVERIFY(reports > 0);
    moveRemote(session, remote.id, QPoint(300, 320));
    QTRY_COMPARE_WITH_TIMEOUT(red->geometry().topLeft(), QPoint(300, 320), 10000);
    QTest::qWait(500);
    QCOMPARE(geometryReports(remote.id), reports);
    QCOMPARE(remoteWindow(session, "Red").geometry.topLeft(), QPoint(300, 320));
}

void TestRootless::raisingRestacks()
{
    for (const QString &title : {QStringLiteral("Red"), QStringLiteral("Blue"), QStringLiteral("Red")}) {
        QVERIFY(activate(localWindow(title)));
        QTRY_COMPARE_WITH_TIMEOUT(remoteStacking(session).last(), title, 10000);
    }
}

// Minimise, maximise and restore reach the remote window.
void TestRootless::windowCommands()
{
    RdpRailWidget *red = localWindow("Red");
    QVERIFY(red);
    const QRect normal = remoteWindow(session, "Red").geometry;
    red->showMinimized();
    QTRY_VERIFY_WITH_TIMEOUT(!remoteWindow(session, "Red").viewable, 10000);
    red->showNormal();
    QTRY_VERIFY_WITH_TIMEOUT(remoteWindow(session, "Red").viewable, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(remoteWindow(session, "Red").geometry, normal, 10000);
    red->showMaximized();
    QTRY_VERIFY_WITH_TIMEOUT(remoteWindow(session, "Red").geometry.width() > 1000, 10000);
    red->showNormal();
    QTRY_COMPARE_WITH_TIMEOUT(remoteWindow(session, "Red").geometry, normal, 10000);
}

// Keys go to the focused window; a window the program opens later appears, and goes when
// the program closes it.
void TestRootless::typingAndWindowsComingAndGoing()
{
    QVERIFY(activate(localWindow("Blue")));
    QVERIFY(typeLocally("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(keys("blue"), QStringLiteral("hi"), 10000);
    QVERIFY(typeLocally("o"));
    QTRY_COMPARE_WITH_TIMEOUT(localTitles(), QStringList({"Blue", "Blue extra", "Red"}), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(nearColour(widgetPixel(localWindow("Blue extra"), 5, 5), qRgb(0x20, 0xC0, 0x40)), 10000);
    QVERIFY(activate(localWindow("Blue extra")));
    QVERIFY(typeLocally("c"));
    QTRY_COMPARE_WITH_TIMEOUT(localTitles(), QStringList({"Blue", "Red"}), 10000);
    QCOMPARE(keys("red"), QString());
}

// The close button asks the program to close its window, which ends it here.
void TestRootless::closeEndsTheProgram()
{
    localWindow("Red")->close();
    QTRY_COMPARE_WITH_TIMEOUT(keys("red"), QStringLiteral("closed"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(localTitles(), QStringList({"Blue"}), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(remoteWindow(session, "Red").id == 0, 10000);
}

// "Disconnect" in the session's menu ends its windows; the session runs on, is listed, and a
// new connection shows its windows again.
void TestRootless::disconnectFromTheSessionMenu()
{
    const QList<QAction *> settings = sessionMenuActions("SettingsAction"), disconnect = sessionMenuActions("DisconnectAction");
    QCOMPARE(settings.size(), 1);
    QCOMPARE(disconnect.size(), 1);
    QVERIFY(settings.first()->isEnabled()); // the server has the options channel
    QSignalSpy finished(rdp.get(), &RdpInstance::finished);
    disconnect.first()->trigger();
    QVERIFY(finished.wait(10000));
    QCOMPARE(rdp->exitCode(), 0);
    QTRY_COMPARE(localTitles(), QStringList());

    bool listed = false;
    for (const QJsonValue &entry : stack.call("Nuvek.list", {}).toArray())
        listed = listed || entry.toObject().value("id").toString() == session.id;
    QVERIFY(listed);
    rdp = stack.connectViewer(session, "rootless");
    QVERIFY(rdp->isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(localTitles(), QStringList({"Blue"}), 20000);
}

// The application runs on a private X server with a window manager of its own.
int main(int argc, char *argv[])
{
    PrivateXServer xserver;
    pid_t manager = -1;
    if (xserver.startForApplication("1280x800x24") && !QStandardPaths::findExecutable("openbox").isEmpty()) {
        manager = ::fork();
        if (manager == 0) {
            ::execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        // Ready once it names itself on the root window.
        Display *d = XOpenDisplay(xserver.display().constData());
        const Atom check = d ? XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False) : None;
        for (int i = 0; d && i < 100; ++i) {
            Atom type;
            int format;
            unsigned long items = 0, left;
            unsigned char *data = nullptr;
            XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, AnyPropertyType, &type, &format, &items, &left, &data);
            XFree(data);
            if (items)
                break;
            ::usleep(100000);
        }
        if (d)
            XCloseDisplay(d);
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    TestRootless test;
    const int result = QTest::qExec(&test, argc, argv);
    if (manager > 0) {
        ::kill(manager, SIGTERM);
        ::waitpid(manager, nullptr, 0);
    }
    return result;
}

#include "tst_rootless.moc"
