// The remote display end to end through the SSH link: our plink logs in to a private sshd
// with a key and offers its SOCKS forward, and RdpInstance reaches FreeRDP's shadow server
// (serving a private Xvfb) through it with standard RDP security. A small X client on the
// server's display paints a known pattern and records the clicks and keys it receives.

#include "link/sshdevice.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpkeyboard.h"
#include "sessions/sessionlistwidget.h"
#include "windows/rdpmainwidget.h"

#include "support/childprocesses.h"
#include "support/clientenvironment.h"
#include "support/errorboxes.h"
#include "support/shadowserverfixture.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef KeyPress
#undef KeyRelease

#include <memory>

namespace {

const QRgb background = qRgb(0x20, 0x50, 0xC0);
const QRgb box = qRgb(0xE0, 0x30, 0x10);
const QRect boxRect(100, 100, 200, 100);
const QSize screenSize(640, 480);

// The codec is lossy: a colour may come back a few steps off.
bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8
        && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).count();
}

// Top-level widgets still alive once pending deletions have run.
QWidgetList liveTopLevelWidgets()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return QApplication::topLevelWidgets();
}

// An X client on the server's display: one window over the whole screen in the background
// colour with a box-coloured child, holding the keyboard focus; it keeps the button presses
// (in root coordinates) and the text typed into it.
class XProbe
{
public:
    ~XProbe() { close(); }

    bool open(const QByteArray &displayName)
    {
        display = XOpenDisplay(displayName.constData());
        if (!display)
            return false;
        const Window root = DefaultRootWindow(display);
        XSetWindowAttributes attributes;
        attributes.override_redirect = True;
        attributes.background_pixel = background & 0xFFFFFF;
        attributes.event_mask = ButtonPressMask | KeyPressMask;
        window = XCreateWindow(display, root, 0, 0, unsigned(screenSize.width()),
                               unsigned(screenSize.height()), 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask,
                               &attributes);
        XSetWindowAttributes childAttributes;
        childAttributes.background_pixel = box & 0xFFFFFF;
        XCreateWindow(display, window, boxRect.x(), boxRect.y(), unsigned(boxRect.width()),
                      unsigned(boxRect.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixel, &childAttributes);
        XMapSubwindows(display, window);
        XMapRaised(display, window);
        XSync(display, False);
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

    // Reads what has arrived so far.
    void poll()
    {
        while (display && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ButtonPress) {
                clicks << qMakePair(int(event.xbutton.button),
                                    QPoint(event.xbutton.x_root, event.xbutton.y_root));
            } else if (event.type == 2 /* KeyPress */) {
                char text[16];
                KeySym keysym;
                const int length = XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
                typed += QString::fromLatin1(text, length);
            }
        }
    }

    void clear()
    {
        poll();
        clicks.clear();
        typed.clear();
    }

    QList<QPair<int, QPoint>> clicks;
    QString typed;

private:
    Display *display = nullptr;
    Window window = 0;
};

} // namespace

class TestRdpTunnel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void showsAndControlsTheServerScreen_data();
    void showsAndControlsTheServerScreen();
    void refusedConnectionEnds131_data();
    void refusedConnectionEnds131();
    void serverGoingAwayFreesEverything();

private:
    // Connects through the link's SOCKS forward; true once the desktop window is up.
    bool connectThroughTunnel(RdpInstance &rdp, quint16 port, const QString &sessionId,
                              quint16 tunnelPort = 0);

    QTemporaryDir settingsDir;
    std::unique_ptr<SshdFixture> sshd;
    std::unique_ptr<ShadowServerFixture> server;
    std::unique_ptr<SshDevice> link;
    XProbe probe;
};

void TestRdpTunnel::initTestCase()
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
    QVERIFY2(server->start(screenSize, &why), qPrintable(why));
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

void TestRdpTunnel::cleanupTestCase()
{
    if (link && link->isOpen()) {
        // Let plink end before its server goes.
        QSignalSpy linkDown(link.get(), &SshDevice::finished);
        link->close();
        QVERIFY(linkDown.count() == 1 || linkDown.wait(5000));
        QTRY_VERIFY(childProcessIds("plink").isEmpty());
    }
    link.reset();
    probe.close();
    server.reset();
    sshd.reset();
    qDeleteAll(visibleErrorBoxes());
}

void TestRdpTunnel::init()
{
    probe.clear();
}

void TestRdpTunnel::cleanup()
{
    qDeleteAll(visibleErrorBoxes());
}

bool TestRdpTunnel::connectThroughTunnel(RdpInstance &rdp, quint16 port, const QString &sessionId,
                                         quint16 tunnelPort)
{
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    const QVariantMap params{{"RemoteHost", link->realHost()},
                             {"SessionId", sessionId},
                             {"SshHost", link->realHost()},
                             {"SshPort", int(link->sshPort())}};
    rdp.connectToSession(link->realHost(), port, link->user(), QString(),
                         tunnelPort ? tunnelPort : link->tunnelPort(),
                         QStringLiteral("%1x%2").arg(screenSize.width()).arg(screenSize.height()),
                         QStringLiteral("Tunnelled"), false, params);
    QElapsedTimer timer;
    timer.start();
    while (connectedSpy.isEmpty() && finishedSpy.isEmpty() && timer.elapsed() < 20000)
        QTest::qWait(20);
    return connectedSpy.count() == 1 && finishedSpy.isEmpty() && rdp.sessionContext()
        && rdp.sessionContext()->mainWidget;
}

void TestRdpTunnel::showsAndControlsTheServerScreen_data()
{
    // The session's "ScalingFactor" is remote pixels per local pixel.
    QTest::addColumn<double>("scalingFactor");
    QTest::addColumn<double>("zoom"); // local pixels per remote pixel
    QTest::newRow("1:1") << 1.0 << 1.0;
    QTest::newRow("zoom in") << 0.5 << 2.0;
    QTest::newRow("zoom out") << 2.0 << 0.5;
}

void TestRdpTunnel::showsAndControlsTheServerScreen()
{
    QFETCH(double, scalingFactor);
    QFETCH(double, zoom);
    // The zoom is the session's own setting, read when the connection starts.
    const QString sessionId = QStringLiteral("session-%1").arg(QTest::currentDataTag());
    {
        QSettings settings;
        settings.setValue(sessionId + "-Settings/ScalingFactor", scalingFactor);
    }

    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(connectThroughTunnel(rdp, server->port(), sessionId));
    RdpMainWidget *window = rdp.sessionContext()->mainWidget;
    QWidget *desktop = window->desktopWidget();
    QVERIFY(desktop);
    QCOMPARE(desktop->size(), screenSize * zoom);

    // The pattern on the server's screen, read at the local pixel of a remote one.
    const auto pixel = [&](int x, int y) {
        return desktop->grab(QRect(int(x * zoom), int(y * zoom), 1, 1)).toImage().pixel(0, 0)
            | 0xFF000000u;
    };
    QTRY_VERIFY_WITH_TIMEOUT(near(pixel(150, 150), box), 10000);
    // (A few pixels off the edges: the codec and the scaling smear them a little.)
    QVERIFY(near(pixel(10, 10), background));
    QVERIFY(near(pixel(106, 106), box));
    QVERIFY(near(pixel(294, 194), box));
    QVERIFY(near(pixel(306, 206), background));
    QVERIFY(near(pixel(94, 150), background));
    QVERIFY(near(pixel(630, 470), background));
    if (zoom == 2.0) {
        // Each remote pixel becomes 2 × 2 equal local ones.
        const QImage block = desktop->grab(QRect(300, 300, 2, 2)).toImage();
        QCOMPARE(block.pixel(0, 0), block.pixel(1, 1));
        QCOMPARE(block.pixel(0, 1), block.pixel(1, 0));
    }

    // A click lands on the remote pixel under the local one.
    const QPoint local(167, 109);
    QMouseEvent move(QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(desktop, &move);
    QMouseEvent press(QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(desktop, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(desktop, &release);
    QTRY_VERIFY_WITH_TIMEOUT((probe.poll(), !probe.clicks.isEmpty()), 5000);
    QCOMPARE(probe.clicks.size(), 1);
    QCOMPARE(probe.clicks.first().first, 1);
    QCOMPARE(probe.clicks.first().second,
             QPoint(int(local.x() / zoom), int(local.y() / zoom)));

    // Typed text arrives as text (X key codes of h, i, shift+1, Return).
    const QList<QPair<quint32, bool>> strokes{{43, false}, {31, false}, {50, true},
                                              {10, false}, {50, false}, {36, false}};
    for (const auto &stroke : strokes) {
        QKeyEvent keyPress(QEvent::KeyPress, 0, Qt::NoModifier, stroke.first, 0, 0);
        QApplication::sendEvent(desktop, &keyPress);
        if (stroke.second)
            continue; // held down for the next key
        QKeyEvent keyRelease(QEvent::KeyRelease, 0, Qt::NoModifier, stroke.first, 0, 0);
        QApplication::sendEvent(desktop, &keyRelease);
    }
    QTRY_COMPARE_WITH_TIMEOUT((probe.poll(), probe.typed), QString("hi!\r"), 5000);

    // Closing the window ends the connection normally and leaves no window behind.
    QVERIFY(window->close());
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 5000);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
    QTRY_VERIFY(liveTopLevelWidgets().isEmpty());
}

void TestRdpTunnel::refusedConnectionEnds131_data()
{
    QTest::addColumn<bool>("deadTunnel");
    // Nothing listens behind the forward: the SOCKS request fails on the server side.
    QTest::newRow("target refuses") << false;
    // Nothing listens on the SOCKS port itself (the link has gone).
    QTest::newRow("tunnel refuses") << true;
}

void TestRdpTunnel::refusedConnectionEnds131()
{
    QFETCH(bool, deadTunnel);
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(!connectThroughTunnel(rdp, deadTunnel ? server->port() : ShadowServerFixture::freePort(),
                                  QStringLiteral("refused"),
                                  deadTunnel ? ShadowServerFixture::freePort() : 0));
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 5000);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(rdp.exitCode(), 131);
    QVERIFY(!rdp.sessionContext());
    QVERIFY(liveTopLevelWidgets().isEmpty());

    // What the Sessions window tells the user about it.
    QMessageBox *box = SessionListWidget::reportRdpFinished(rdp.exitCode());
    QVERIFY(box);
    QCOMPARE(box->text(), QString("There was a problem connecting to the session.<br><br>"
                                  "Make sure it is still running and that SSH tunneling is enabled."));
    delete box;

    // The link itself is still fine.
    QVERIFY(link->isOpen());
}

void TestRdpTunnel::serverGoingAwayFreesEverything()
{
    const int threadsBefore = threadCount();
    {
        RdpInstance rdp;
        QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
        QVERIFY(connectThroughTunnel(rdp, server->port(), QStringLiteral("killed")));
        QVERIFY(threadCount() > threadsBefore);
        QVERIFY(!liveTopLevelWidgets().isEmpty());

        server->killServer();
        QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 10000);
        QVERIFY(!rdp.sessionContext());
        QVERIFY(!rdp.isConnected());
        // Without an error report from the server this counts as a terminated session.
        QCOMPARE(rdp.exitCode(), 0);
        QTRY_VERIFY(liveTopLevelWidgets().isEmpty());
        // The worker thread is gone before the instance is.
        QTRY_COMPARE_WITH_TIMEOUT(threadCount(), threadsBefore, 5000);
    }
    QCOMPARE(threadCount(), threadsBefore);
    QVERIFY(link->isOpen());
}

QTEST_MAIN(TestRdpTunnel)
#include "tst_rdptunnel.moc"
