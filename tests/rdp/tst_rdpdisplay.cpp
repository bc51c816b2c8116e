// The remote display against FreeRDP's shadow server on a private Xvfb display: through the
// SSH link's SOCKS forward (our plink logged in to a private sshd with a key) and directly.
// An X client on the server's display paints a known pattern and records clicks and keys.

#include "link/sshdevice.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpkeyboard.h"
#include "sessions/sessionlistwidget.h"
#include "support/shadowserverfixture.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"
#include "windows/rdpmainwidget.h"

#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <freerdp/gdi/gdi.h>
#include <freerdp/gdi/region.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef KeyPress
#undef KeyRelease

#include <memory>

namespace {

const QRgb Background = qRgb(0x20, 0x50, 0xC0);
const QRgb Box = qRgb(0xE0, 0x30, 0x10);
const QRect BoxRect(100, 100, 200, 100);
const QSize ScreenSize(640, 480);

// An X client on the server's display: a window over the whole screen in the background
// colour with a box-coloured child, holding the keyboard focus; it keeps the button presses
// (in root coordinates) and the text typed into it, and tells where the pointer is.
class XProbe
{
public:
    ~XProbe() { close(); }

    bool open(const QByteArray &name)
    {
        if (!(display = XOpenDisplay(name.constData())))
            return false;
        XSetWindowAttributes attributes;
        attributes.override_redirect = True;
        attributes.background_pixel = Background & 0xFFFFFF;
        attributes.event_mask = ButtonPressMask | KeyPressMask;
        const Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, unsigned(ScreenSize.width()),
                                            unsigned(ScreenSize.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                                            CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
        attributes.background_pixel = Box & 0xFFFFFF;
        XCreateWindow(display, window, BoxRect.x(), BoxRect.y(), unsigned(BoxRect.width()), unsigned(BoxRect.height()),
                      0, CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &attributes);
        XMapSubwindows(display, window);
        XMapRaised(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
        return true;
    }

    void close()
    {
        if (display)
            XCloseDisplay(display);
        display = nullptr;
    }

    void poll()
    {
        while (display && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ButtonPress) {
                clicks << QPoint(event.xbutton.x_root, event.xbutton.y_root);
            } else if (event.type == 2 /* KeyPress */) {
                char text[16];
                KeySym keysym;
                typed += QString::fromLatin1(text, XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr));
            }
        }
    }

    QPoint pointer()
    {
        Window root, child;
        int x = -1, y = -1, windowX, windowY;
        unsigned mask;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &mask);
        return QPoint(x, y);
    }

    QList<QPoint> clicks;
    QString typed;

private:
    Display *display = nullptr;
};

void sendKey(QWidget *widget, quint32 code, bool press)
{
    QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, 0, Qt::NoModifier, code, 0, 0);
    QApplication::sendEvent(widget, &event);
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &at, Qt::MouseButton button = Qt::NoButton)
{
    QMouseEvent event(type, at, button, type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QList<UINT32> acknowledgedFrames;
BOOL recordFrameAcknowledge(rdpContext *, UINT32 frameId)
{
    acknowledgedFrames << frameId;
    return TRUE;
}

} // namespace

class TestRdpDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void showsAndControlsTheServerScreen_data();
    void showsAndControlsTheServerScreen();
    void plainConnectionInternals();
    void refusedConnectionEnds131_data();
    void refusedConnectionEnds131();
    void quitWhileConnecting_data();
    void quitWhileConnecting();
    void serverGoingAwayFreesEverything(); // last: it stops the server

private:
    // Starts a connection through the tunnel (or directly) and waits until it is up or has
    // ended; true when it is up with its window.
    bool connectAndWait(RdpInstance &rdp, const QString &mode = QStringLiteral("640x480"), bool direct = false,
                        const QString &sessionId = QString(), quint16 port = 0, quint16 tunnelPort = 0);

    QTemporaryDir settingsDir;
    std::unique_ptr<SshdFixture> sshd;
    std::unique_ptr<ShadowServerFixture> server;
    std::unique_ptr<SshDevice> link;
    XProbe probe;
};

void TestRdpDisplay::initTestCase()
{
    prepareClientEnvironment(settingsDir.path());
    if (!ShadowServerFixture::isAvailable())
        QSKIP("Xvfb and freerdp-shadow-cli are needed");
    sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!sshd->isAvailable(&why))
        QSKIP(qPrintable(why));
    QVERIFY(sshd->installClientKey());
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();
    server = std::make_unique<ShadowServerFixture>();
    QVERIFY2(server->start(ScreenSize, &why), qPrintable(why));
    QVERIFY(probe.open(server->display()));

    // A link with a tunnel only: key login, no command.
    link = std::make_unique<SshDevice>();
    const quint16 tunnel = SshdFixture::freePort();
    link->setTunnelPortRange(tunnel, tunnel + 1);
    QSignalSpy linkUp(link.get(), &SshDevice::connected);
    link->connectTo(sshd->host(), sshd->port(), sshd->user(), QString(), false, QString());
    QVERIFY2(linkUp.wait(20000), qPrintable(link->log().join('\n')));
    QCOMPARE(link->tunnelPort(), tunnel);
    // Both sides use the same keyboard layout.
    initRdpKeyboard(0x409);
}

void TestRdpDisplay::cleanupTestCase()
{
    if (link && link->isOpen()) {
        link->close(); // before its server goes
        QTRY_VERIFY(childProcessIds("plink").isEmpty());
    }
    link.reset();
    probe.close();
    server.reset();
    sshd.reset();
    qDeleteAll(visibleErrorBoxes());
}

bool TestRdpDisplay::connectAndWait(RdpInstance &rdp, const QString &mode, bool direct, const QString &sessionId,
                                    quint16 port, quint16 tunnelPort)
{
    // Both signals come from queued calls, never from inside connectToSession. Through the
    // tunnel the host only names the session: the target is 127.0.0.1 as seen from the server.
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    const QVariantMap params{{"SessionId", sessionId}, {"SshHost", link->realHost()}, {"SshPort", int(link->sshPort())}};
    if (!rdp.connectToSession(direct ? QStringLiteral("127.0.0.1") : QStringLiteral("ssh.example.invalid"),
                              port ? port : server->port(), "tester", QString(),
                              tunnelPort ? tunnelPort : direct ? 0 : link->tunnelPort(), mode, "Display", direct,
                              params))
        return false;
    return QTest::qWaitFor([&] { return !connectedSpy.isEmpty() || !finishedSpy.isEmpty(); }, 20000)
        && connectedSpy.count() == 1 && finishedSpy.isEmpty() && rdp.isConnected() && rdp.sessionContext()->mainWidget;
}

void TestRdpDisplay::showsAndControlsTheServerScreen_data()
{
    // The session's "ScalingFactor" is remote pixels per local pixel.
    QTest::addColumn<double>("scalingFactor");
    QTest::addColumn<double>("zoom"); // local pixels per remote pixel
    QTest::newRow("1:1") << 1.0 << 1.0;
    QTest::newRow("zoom in") << 0.5 << 2.0;
    QTest::newRow("zoom out") << 2.0 << 0.5;
}

void TestRdpDisplay::showsAndControlsTheServerScreen()
{
    QFETCH(double, scalingFactor);
    QFETCH(double, zoom);
    const QString sessionId = QStringLiteral("session-%1").arg(QTest::currentDataTag());
    QSettings().setValue(sessionId + "-Settings/ScalingFactor", scalingFactor);
    probe.poll();
    probe.clicks.clear();
    probe.typed.clear();

    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(connectAndWait(rdp, "640x480", false, sessionId));
    RdpContext *context = rdp.sessionContext();
    QWidget *desktop = context->mainWidget->desktopWidget();
    QCOMPARE(desktop->size(), ScreenSize * zoom);

    // The pattern, read at the local pixel of a remote one (a few pixels off the edges: the
    // codec and the scaling smear them a little).
    const auto pixel = [&](int x, int y) { return widgetPixel(desktop, int(x * zoom), int(y * zoom)); };
    QTRY_VERIFY_WITH_TIMEOUT(nearColour(pixel(150, 150), Box), 10000);
    for (const QPoint &p : {QPoint(106, 106), QPoint(294, 194)})
        QVERIFY(nearColour(pixel(p.x(), p.y()), Box));
    for (const QPoint &p : {QPoint(10, 10), QPoint(306, 206), QPoint(94, 150), QPoint(630, 470)})
        QVERIFY(nearColour(pixel(p.x(), p.y()), Background));
    if (zoom == 2.0) { // each remote pixel becomes 2 × 2 equal local ones
        const QImage block = desktop->grab(QRect(300, 300, 2, 2)).toImage();
        QCOMPARE(block.pixel(0, 0), block.pixel(1, 1));
        QCOMPARE(block.pixel(0, 1), block.pixel(1, 0));
    }

    // The pointer and a click land on the remote pixel under the local one, wherever the
    // real cursor is.
    const QPoint local(167, 109), remote(int(167 / zoom), int(109 / zoom));
    sendMouse(desktop, QEvent::MouseMove, local + QPoint(40, 30));
    sendMouse(desktop, QEvent::MouseMove, local); // while the first one is being sent
    QTRY_COMPARE_WITH_TIMEOUT(probe.pointer(), remote, 5000);
    sendMouse(desktop, QEvent::MouseButtonPress, local, Qt::LeftButton);
    sendMouse(desktop, QEvent::MouseButtonRelease, local, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT((probe.poll(), probe.clicks), QList<QPoint>{remote}, 5000);
    QCOMPARE(probe.pointer(), remote);

    // Typed text arrives as text (X key codes of h, i, shift+1, Return).
    for (const quint32 code : {43, 31})
        sendKey(desktop, code, true), sendKey(desktop, code, false);
    sendKey(desktop, 50, true);
    sendKey(desktop, 10, true), sendKey(desktop, 10, false);
    sendKey(desktop, 50, false);
    sendKey(desktop, 36, true), sendKey(desktop, 36, false);
    QTRY_COMPARE_WITH_TIMEOUT((probe.poll(), probe.typed), QString("hi!\r"), 5000);
    // Caps Lock and Num Lock lock the remote keyboard; its lock states follow.
    QCOMPARE(x11LockFlags(server->display()), 0u);
    for (const auto &step : {qMakePair(66u, 4u), qMakePair(77u, 6u), qMakePair(66u, 2u), qMakePair(77u, 0u)}) {
        sendKey(desktop, step.first, true), sendKey(desktop, step.first, false);
        QTRY_COMPARE_WITH_TIMEOUT(x11LockFlags(server->display()), step.second, 5000);
    }

    // Closing the window ends the connection normally once the close has been handled.
    QVERIFY(context->mainWidget->close());
    QCOMPARE(finishedSpy.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 5000);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
    QTRY_VERIFY(topLevelWindows<QWidget>().isEmpty());
}

void TestRdpDisplay::plainConnectionInternals()
{
    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QSignalSpy paintSpy(&rdp, &RdpInstance::regionUpdated);
    // No tunnel: straight to the server (direct joins, with TLS, are the certificate test's).
    QVERIFY(rdp.connectToSession("127.0.0.1", server->port(), "tester", QString(), 0, "800x600", "Plain", false, {}));
    RdpContext *context = rdp.sessionContext();
    // A second call while connecting changes nothing.
    QVERIFY(rdp.connectToSession("elsewhere", 1, QString(), QString(), 0, "rootless", QString(), true, {}));
    QCOMPARE(rdp.sessionContext(), context);
    QTRY_VERIFY_WITH_TIMEOUT(rdp.isConnected() || finishedSpy.count(), 20000);
    QVERIFY(rdp.isConnected());
    rdpContext *rdpCtx = context->rdp();
    QCOMPARE(freerdp_settings_get_uint32(rdpCtx->settings, FreeRDP_ProxyType), quint32(PROXY_TYPE_NONE));
    // RemoteApp is only loaded for rootless sessions.
    QVERIFY(!context->railClient);
    QTRY_VERIFY_WITH_TIMEOUT(paintSpy.count() > 0, 10000);

    // FreeRDP calls these on this thread while it processes the server's updates; here the
    // test plays the server. Without a frame each paint is shown at once; within one they
    // are collected until it ends, and the end is acknowledged when the server asked for it.
    rdpUpdate *update = rdpCtx->update;
    paintSpy.clear();
    const auto paint = [&](int x, int y, int w, int h) {
        update->BeginPaint(rdpCtx);
        gdi_InvalidateRegion(rdpCtx->gdi->primary->hdc, x, y, w, h);
        update->EndPaint(rdpCtx);
    };
    paint(0, 0, 10, 10);
    QCOMPARE(paintSpy.count(), 1);
    QCOMPARE(paintSpy.takeFirst().at(0).value<QRegion>(), QRegion(0, 0, 10, 10));
    acknowledgedFrames.clear();
    const pSurfaceFrameAcknowledge acknowledge = update->SurfaceFrameAcknowledge;
    update->SurfaceFrameAcknowledge = recordFrameAcknowledge;
    for (const UINT32 acknowledgeFrames : {2, 0}) {
        freerdp_settings_set_uint32(rdpCtx->settings, FreeRDP_FrameAcknowledge, acknowledgeFrames);
        SURFACE_FRAME_MARKER marker = {SURFACECMD_FRAMEACTION_BEGIN, 41 + acknowledgeFrames};
        update->SurfaceFrameMarker(rdpCtx, &marker);
        paint(0, 0, 10, 10);
        paint(100, 50, 20, 5);
        QCOMPARE(paintSpy.count(), 0);
        marker.frameAction = SURFACECMD_FRAMEACTION_END;
        update->SurfaceFrameMarker(rdpCtx, &marker);
        QCOMPARE(paintSpy.count(), 1);
        QCOMPARE(paintSpy.takeFirst().at(0).value<QRegion>(), QRegion(0, 0, 10, 10) + QRegion(100, 50, 20, 5));
    }
    QCOMPARE(acknowledgedFrames, QList<UINT32>{43});
    update->SurfaceFrameAcknowledge = acknowledge;

    rdp.quit();
    rdp.quit(); // a second quit does nothing
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
}

void TestRdpDisplay::refusedConnectionEnds131_data()
{
    QTest::addColumn<bool>("direct");
    QTest::addColumn<bool>("deadTunnel");
    QTest::addColumn<bool>("silent"); // a peer that accepts and never says a word
    QTest::newRow("nothing behind the forward") << false << false << false;
    QTest::newRow("nothing on the SOCKS port") << false << true << false;
    QTest::newRow("direct to a closed port") << true << false << false;
    // The connect step ends once its time is up.
    QTest::newRow("silent server") << true << false << true;
    QTest::newRow("silent SOCKS forward") << false << true << true;
}

void TestRdpDisplay::refusedConnectionEnds131()
{
    QFETCH(bool, direct);
    QFETCH(bool, deadTunnel);
    QFETCH(bool, silent);
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QTcpServer silentPeer;
    QVERIFY(!silent || silentPeer.listen(QHostAddress::LocalHost, 0));
    const quint16 closed = silent ? silentPeer.serverPort() : SshdFixture::freePort();
    if (silent)
        rdp.setConnectTimeout(1500);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!connectAndWait(rdp, "640x480", direct, QString(), deadTunnel ? 0 : closed, deadTunnel ? closed : 0));
    if (silent) { // in time, and the socket was let go of: the peer sees the end
        QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));
        QTcpSocket *peer = silentPeer.nextPendingConnection();
        QVERIFY(peer);
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }
    rdp.setConnectTimeout(20000); // time enough for the attempt below
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(rdp.exitCode(), 131);
    QVERIFY(!rdp.sessionContext());
    QVERIFY(topLevelWindows<QWidget>().isEmpty());
    // What the Sessions window tells the user about it.
    std::unique_ptr<QMessageBox> box(SessionListWidget::reportRdpFinished(rdp.exitCode()));
    QCOMPARE(box->text(), QString("There was a problem connecting to the session.<br><br>"
                                  "Make sure it is still running and that SSH tunneling is enabled."));
    // Idle again: the same object connects, over the link, which is still fine.
    QVERIFY(link->isOpen());
    QVERIFY(connectAndWait(rdp));
    rdp.quit();
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpDisplay::quitWhileConnecting_data()
{
    QTest::addColumn<bool>("resultQueued");
    // A server that accepts and never answers keeps the connect step waiting.
    QTest::newRow("connect step waiting") << false;
    // No events are handled meanwhile: the connect step succeeds on the worker thread and
    // its result waits in the queue.
    QTest::newRow("result queued") << true;
}

void TestRdpDisplay::quitWhileConnecting()
{
    QFETCH(bool, resultQueued);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(rdp.connectToSession("127.0.0.1", resultQueued ? server->port() : silent.serverPort(), "tester", QString(),
                                 0, "800x600", QString(), false, {}));
    if (resultQueued)
        QThread::msleep(3000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 5000);
    QElapsedTimer timer;
    timer.start();
    rdp.quit();
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
    // A result that was on its way changes nothing any more.
    QCoreApplication::processEvents();
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(finishedSpy.count(), 1);
    QVERIFY(!rdp.sessionContext());
}

void TestRdpDisplay::serverGoingAwayFreesEverything()
{
    const auto threadCount = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).count(); };
    const int threadsBefore = threadCount();
    {
        RdpInstance rdp;
        QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
        QVERIFY(connectAndWait(rdp));
        QVERIFY(threadCount() > threadsBefore);
        server->killServer();
        QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 10000);
        // Without an error report from the server this counts as a terminated session.
        QCOMPARE(rdp.exitCode(), 0);
        QVERIFY(!rdp.sessionContext() && !rdp.isConnected());
        QTRY_VERIFY(topLevelWindows<QWidget>().isEmpty());
        // The worker thread is gone before the instance is.
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 10000);
    }
    QVERIFY(link->isOpen());
}

QTEST_MAIN(TestRdpDisplay)
#include "tst_rdpdisplay.moc"
