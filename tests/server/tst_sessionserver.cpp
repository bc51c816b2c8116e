#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"

#include "support/sessionserverfixture.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <signal.h>

// nuvek2_rdp on its own, with the client's RDP connection: what the server does besides the
// channels, the clipboard, logins and sharing, which the session channel and sharing tests
// prove through the whole stack.
class TestSessionServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sizeOfTheScreenKeepsThePicture();
    void idleCostsNothing();
    void disconnectSignalDropsViewers();
    void rootlessWindowsReachRemoteAppClients();
    void endsWithItsDisplay();

private:
    std::unique_ptr<RdpInstance> connectViewer();
    QRgb screenPixel(int x, int y);

    SessionServerFixture server;
};

void TestSessionServer::initTestCase()
{
    if (!SessionServerFixture::isAvailable())
        QSKIP("Xvnc and nuvek2_rdp are needed");
    QString why;
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
}

std::unique_ptr<RdpInstance> TestSessionServer::connectViewer()
{
    auto rdp = std::make_unique<RdpInstance>();
    QSignalSpy connectedSpy(rdp.get(), &RdpInstance::connected);
    QSignalSpy finishedSpy(rdp.get(), &RdpInstance::finished);
    rdp->connectToSession("127.0.0.1", server.port(), "tester", SessionServerFixture::password(), 0, "640x480",
                          "Display", false, QVariantMap());
    const QDeadlineTimer deadline(20000);
    while (connectedSpy.isEmpty() && finishedSpy.isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    return rdp;
}

QRgb TestSessionServer::screenPixel(int x, int y)
{
    Display *display = XOpenDisplay(server.display().constData());
    if (!display)
        return 0;
    XImage *image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    const QRgb pixel = image ? QRgb(XGetPixel(image, 0, 0)) & 0xFFFFFF : 0;
    if (image)
        XDestroyImage(image);
    XCloseDisplay(display);
    return pixel;
}

// Asking for the size the screen already has leaves its picture alone (setting it again made
// the X server clear the screen). The options that follow on the same connection tell when
// the server has handled the request.
void TestSessionServer::sizeOfTheScreenKeepsThePicture()
{
    auto rdp = connectViewer();
    RdpContext *context = rdp->sessionContext();
    QVERIFY(context && context->oxdeskClient && context->oxcfgClient);
    QTRY_VERIFY_WITH_TIMEOUT((QProcess::execute("env", {"DISPLAY=" + QString::fromLatin1(server.display()), "xsetroot", "-solid", "#e03010"}),
                              screenPixel(150, 150) == 0xE03010),
                             10000);
    QCOMPARE(context->oxdeskClient->SizeRequest(context->oxdeskClient, 640, 480), UINT(CHANNEL_RC_OK));
    QCOMPARE(context->oxcfgClient->SetOptions(context->oxcfgClient, "{}"), UINT(CHANNEL_RC_OK));
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains("options now"), 10000);
    QCOMPARE(screenPixel(150, 150), QRgb(0xE03010));
}

// CPU seconds a process has used so far.
static double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    return (fields.value(12).toLongLong() + fields.value(13).toLongLong()) / 100.0; // utime, stime
}

void TestSessionServer::idleCostsNothing()
{
    auto rdp = connectViewer();
    QVERIFY(rdp->sessionContext());
    QTest::qWait(1000); // the first full picture
    const double before = cpuSeconds(server.server().processId());
    QTest::qWait(4000);
    const double used = cpuSeconds(server.server().processId()) - before;
    QVERIFY2(used <= 0.02, qPrintable(QStringLiteral("%1 CPU seconds in 4 s").arg(used)));
}

// "Disconnect": every viewer goes, the server stays and takes the next one.
void TestSessionServer::disconnectSignalDropsViewers()
{
    auto first = connectViewer();
    auto second = connectViewer();
    QSignalSpy firstFinished(first.get(), &RdpInstance::finished);
    QSignalSpy secondFinished(second.get(), &RdpInstance::finished);
    QVERIFY(first->sessionContext() && second->sessionContext());
    ::kill(pid_t(server.server().processId()), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT(firstFinished.count() == 1 && secondFinished.count() == 1, 10000);
    QCOMPARE(server.server().state(), QProcess::Running);
    QVERIFY(connectViewer()->sessionContext());
}

// The top-level window named name on a display and its place (id 0 when there is none).
static QPair<Window, QPoint> topLevel(const QByteArray &displayName, const char *name)
{
    QPair<Window, QPoint> found{0, {}};
    const XErrorsIgnored windowsMayGo;
    Display *display = XOpenDisplay(displayName.constData());
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr, child = 0;
    unsigned count = 0;
    XQueryTree(display, root, &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !found.first; ++i) {
        char *title = nullptr;
        int x = 0, y = 0;
        if (XFetchName(display, children[i], &title) && qstrcmp(title, name) == 0
            && XTranslateCoordinates(display, children[i], root, 0, 0, &x, &y, &child))
            found = {children[i], QPoint(x, y)};
        XFree(title);
    }
    XFree(children);
    XCloseDisplay(display);
    return found;
}

// A rootless session with FreeRDP's own RemoteApp client: each window of the session becomes
// a window of the client's display at its place, a new window gets the keyboard (there is no
// window manager), and closing the client's window ends the program (xterm takes WM_DELETE_WINDOW).
void TestSessionServer::rootlessWindowsReachRemoteAppClients()
{
    if (QStandardPaths::findExecutable("xfreerdp").isEmpty() || QStandardPaths::findExecutable("xterm").isEmpty())
        QSKIP("xfreerdp and xterm are needed");
    SessionServerFixture session;
    QString why;
    QVERIFY2(session.start(QSize(800, 600), &why, {"--rootless"}), qPrintable(why));
    QProcess clientDisplay, first, second, client;
    QByteArray local;
    QVERIFY(SessionServerFixture::startDisplay(clientDisplay, QSize(1024, 768), &local));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", session.display());
    first.setProcessEnvironment(env);
    second.setProcessEnvironment(env);
    first.start("xterm", {"-geometry", "20x4+40+50", "-T", "first"});
    QTRY_VERIFY(topLevel(session.display(), "first").first);
    second.start("xterm", {"-geometry", "20x4+300+200", "-T", "second"});
    const auto focused = [&session] {
        Display *display = XOpenDisplay(session.display().constData());
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        XCloseDisplay(display);
        return focus;
    };
    QTRY_VERIFY(topLevel(session.display(), "second").first);
    QTRY_COMPARE(focused(), topLevel(session.display(), "second").first);
    env.insert("DISPLAY", local);
    client.setProcessEnvironment(env);
    client.start("xfreerdp", {QStringLiteral("/v:127.0.0.1:%1").arg(session.port()), "/u:tester",
                              "/p:" + SessionServerFixture::password(), "/app:||nothing", "/sec:rdp", "/cert:ignore"});
    QTRY_COMPARE_WITH_TIMEOUT(topLevel(local, "second").second, QPoint(300, 200), 20000);
    QTRY_COMPARE(topLevel(local, "first").second, QPoint(40, 50));

    Display *display = XOpenDisplay(local.constData());
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = topLevel(local, "first").first;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, close.xclient.window, False, NoEventMask, &close);
    XCloseDisplay(display);
    QVERIFY(first.waitForFinished(10000));
    QTRY_VERIFY(!topLevel(local, "first").first);
    for (QProcess *process : {&client, &second, &clientDisplay})
        SessionServerFixture::stopProcess(*process);
}

void TestSessionServer::endsWithItsDisplay()
{
    SessionServerFixture::stopProcess(server.xvnc());
    QTRY_COMPARE_WITH_TIMEOUT(server.server().state(), QProcess::NotRunning, 10000);
    QVERIFY(server.server().exitCode() != 0);
    server.stop();
}

QTEST_MAIN(TestSessionServer)
#include "tst_sessionserver.moc"
