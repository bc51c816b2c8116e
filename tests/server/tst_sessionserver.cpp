#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"

#include "support/sessionserverfixture.h"

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

void TestSessionServer::endsWithItsDisplay()
{
    SessionServerFixture::stopProcess(server.xvnc());
    QTRY_COMPARE_WITH_TIMEOUT(server.server().state(), QProcess::NotRunning, 10000);
    QVERIFY(server.server().exitCode() != 0);
    server.stop();
}

QTEST_MAIN(TestSessionServer)
#include "tst_sessionserver.moc"
