#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "windows/rdpmainwidget.h"

#include "support/sessionserverfixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <signal.h>

namespace {

const QRgb background = qRgb(0x20, 0x50, 0xC0);
const QRgb box = qRgb(0xE0, 0x30, 0x10);

// A blue screen with a red box at 100,100 of 200 x 100.
bool paintScreen(const QByteArray &displayName)
{
    Display *display = XOpenDisplay(displayName.constData());
    if (!display)
        return false;
    const Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    XSetForeground(display, gc, background & 0xFFFFFF);
    XFillRectangle(display, root, gc, 0, 0, 640, 480);
    XSetForeground(display, gc, box & 0xFFFFFF);
    XFillRectangle(display, root, gc, 100, 100, 200, 100);
    XFreeGC(display, gc);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8
        && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

// CPU seconds the process has used so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    // After the name: state is field 1, utime 12, stime 13.
    return (fields.value(12).toLongLong() + fields.value(13).toLongLong()) / 100.0;
}

// The text of a display's clipboard, as xclip reads it.
QByteArray xclip(const QByteArray &display)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("xclip"),
                  {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    process.waitForFinished(5000);
    return process.readAllStandardOutput();
}

} // namespace

// nuvek2_rdp against the client's own RDP connection and FreeRDP's reference client.
class TestSessionServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void viewersSeeTheScreen();
    void refusesWrongPassword();
    void idleCostsNothing();
    void disconnectSignalDropsViewers();
    void clipboard_data();
    void clipboard();
    void endsWithItsDisplay();

private:
    std::unique_ptr<RdpInstance> connectViewer(const QString &password);

    SessionServerFixture server;
};

void TestSessionServer::initTestCase()
{
    if (!SessionServerFixture::isAvailable())
        QSKIP("Xvnc and nuvek2_rdp are needed");
    QString why;
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
}

void TestSessionServer::cleanupTestCase()
{
    server.stop();
}

std::unique_ptr<RdpInstance> TestSessionServer::connectViewer(const QString &password)
{
    auto rdp = std::make_unique<RdpInstance>();
    QSignalSpy connectedSpy(rdp.get(), &RdpInstance::connected);
    QSignalSpy finishedSpy(rdp.get(), &RdpInstance::finished);
    rdp->connectToSession(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("tester"),
                          password, 0, QStringLiteral("640x480"), QStringLiteral("Display"), false,
                          QVariantMap());
    const QDeadlineTimer deadline(20000);
    while (connectedSpy.isEmpty() && finishedSpy.isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    return rdp;
}

void TestSessionServer::viewersSeeTheScreen()
{
    auto first = connectViewer(SessionServerFixture::password());
    auto second = connectViewer(SessionServerFixture::password());
    QVERIFY(first->sessionContext() && first->sessionContext()->mainWidget);
    QVERIFY(second->sessionContext() && second->sessionContext()->mainWidget);
    for (RdpInstance *rdp : {first.get(), second.get()}) {
        QWidget *desktop = rdp->sessionContext()->mainWidget->desktopWidget();
        const auto pixel = [&](int x, int y) {
            return desktop->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0) | 0xFF000000u;
        };
        // The owner's clients size the desktop to their windows, which clears the screen.
        QTRY_VERIFY_WITH_TIMEOUT(paintScreen(server.display()) && near(pixel(150, 150), box), 10000);
        QVERIFY(near(pixel(10, 10), background));
        QVERIFY(near(pixel(295, 195), box));
        QVERIFY(near(pixel(305, 205), background));
    }

    // Asking for the size the screen has leaves the picture alone. The options that
    // follow on the same connection tell when the server has handled the request.
    RdpContext *context = first->sessionContext();
    QVERIFY(context->oxdeskClient && context->oxcfgClient);
    QCOMPARE(context->oxdeskClient->SizeRequest(context->oxdeskClient, 640, 480),
             UINT(CHANNEL_RC_OK));
    QCOMPARE(context->oxcfgClient->SetOptions(context->oxcfgClient, "{}"), UINT(CHANNEL_RC_OK));
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains("options now"), 10000);
    Display *display = XOpenDisplay(server.display().constData());
    QVERIFY(display);
    XImage *image = XGetImage(display, DefaultRootWindow(display), 150, 150, 1, 1, AllPlanes,
                              ZPixmap);
    const QRgb onScreen = image ? QRgb(XGetPixel(image, 0, 0)) : 0;
    if (image)
        XDestroyImage(image);
    XCloseDisplay(display);
    QVERIFY(near(onScreen | 0xFF000000u, box));
}

void TestSessionServer::refusesWrongPassword()
{
    // The client may count itself connected before the server has checked the login.
    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    rdp.connectToSession(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("tester"),
                         QStringLiteral("s3cret-\u00e9-pas"), 0, QStringLiteral("640x480"),
                         QStringLiteral("Display"), false, QVariantMap());
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 20000);
    QVERIFY(rdp.exitCode() != 0);
}

void TestSessionServer::idleCostsNothing()
{
    auto rdp = connectViewer(SessionServerFixture::password());
    QVERIFY(rdp->sessionContext());
    QTest::qWait(1000); // the first full picture
    const double before = cpuSeconds(server.server().processId());
    QTest::qWait(4000);
    const double used = cpuSeconds(server.server().processId()) - before;
    QVERIFY2(used <= 0.02, qPrintable(QStringLiteral("%1 CPU seconds in 4 s").arg(used)));
}

void TestSessionServer::disconnectSignalDropsViewers()
{
    auto first = connectViewer(SessionServerFixture::password());
    auto second = connectViewer(SessionServerFixture::password());
    QSignalSpy firstFinished(first.get(), &RdpInstance::finished);
    QSignalSpy secondFinished(second.get(), &RdpInstance::finished);
    QVERIFY(first->sessionContext() && second->sessionContext());
    ::kill(pid_t(server.server().processId()), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT(firstFinished.count() == 1 && secondFinished.count() == 1, 10000);
    QCOMPARE(server.server().state(), QProcess::Running);
    auto again = connectViewer(SessionServerFixture::password());
    QVERIFY(again->sessionContext());
}

void TestSessionServer::clipboard_data()
{
    QTest::addColumn<bool>("fromSession");
    QTest::addColumn<QString>("text");
    QTest::newRow("session to viewer") << true << QStringLiteral("gr\u00fc\u00dfe\nzwei \u20ac\n");
    QTest::newRow("viewer to session") << false << QStringLiteral("\u2713 eins\n\nzwei");
}

// Through FreeRDP's reference client on a display of its own: its clipboard is that
// display's CLIPBOARD.
void TestSessionServer::clipboard()
{
    QFETCH(bool, fromSession);
    QFETCH(QString, text);
    if (QStandardPaths::findExecutable(QStringLiteral("xfreerdp")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        QSKIP("xfreerdp and xclip are needed");
    // Every process of this test ends with it, passed or failed.
    QProcess clientDisplay, viewer, serve;
    struct Cleanup
    {
        QList<QProcess *> processes;
        ~Cleanup()
        {
            for (QProcess *process : processes)
                SessionServerFixture::stopProcess(*process);
        }
    } cleanup{{&serve, &viewer, &clientDisplay}};

    QByteArray viewerDisplay;
    QVERIFY(SessionServerFixture::startDisplay(clientDisplay, QSize(800, 600), &viewerDisplay));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(viewerDisplay));
    viewer.setProcessEnvironment(env);
    viewer.setStandardOutputFile(QProcess::nullDevice());
    viewer.setStandardErrorFile(QProcess::nullDevice());
    viewer.start(QStringLiteral("xfreerdp"),
                 {QStringLiteral("/v:127.0.0.1:%1").arg(server.port()), QStringLiteral("/u:tester"),
                  QStringLiteral("/p:") + SessionServerFixture::password(),
                  QStringLiteral("/sec:rdp"), QStringLiteral("/cert:ignore"),
                  QStringLiteral("+clipboard")});

    // Once connected, the viewer holds what the session's clipboard holds (if anything):
    // copy after that, or the viewer's own copy may be overwritten by the session's.
    QTRY_COMPARE_WITH_TIMEOUT(xclip(viewerDisplay), xclip(server.display()), 20000);
    const QByteArray from = fromSession ? server.display() : viewerDisplay;
    const QByteArray to = fromSession ? viewerDisplay : server.display();
    QProcessEnvironment serveEnv = QProcessEnvironment::systemEnvironment();
    serveEnv.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(from));
    serve.setProcessEnvironment(serveEnv);
    serve.start(QStringLiteral("xclip"), {QStringLiteral("-i"), QStringLiteral("-selection"),
                                          QStringLiteral("clipboard"), QStringLiteral("-loops"),
                                          QStringLiteral("0")});
    serve.write(text.toUtf8());
    serve.closeWriteChannel();
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclip(to)), text, 20000);
}

void TestSessionServer::endsWithItsDisplay()
{
    SessionServerFixture::stopProcess(server.xvnc());
    QTRY_COMPARE_WITH_TIMEOUT(server.server().state(), QProcess::NotRunning, 10000);
    QVERIFY(server.server().exitCode() != 0);
}

QTEST_MAIN(TestSessionServer)
#include "tst_sessionserver.moc"
