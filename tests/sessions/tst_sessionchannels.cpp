// A session's own channels end to end: our plink logs in to a private sshd, the real
// nuvek2_sci starts sessions (Xvnc and nuvek2_rdp) on the test account, and the client
// connects through the link's SOCKS forward. The server traces what its channels receive
// into the session's rdp.log; the session's display is looked at directly.

#include "channels/oxchannel.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "link/jsonrpchandler.h"
#include "link/sshdevice.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "support/sessionstack.h"
#include "support/testsupport.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpoptionsdialog.h"

#include <QClipboard>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xlib.h>

#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace {

const QRgb Box = qRgb(0xE0, 0x30, 0x10);

// The size of the session's screen; with a colour, the screen is painted in it first, with
// a box in its bottom right corner.
QSize screen(const SessionInfo &session, QRgb colour = 0)
{
    qputenv("XAUTHORITY", QFile::encodeName(session.dir + "/Xauthority"));
    Display *d = XOpenDisplay(session.display.constData());
    if (!d)
        return QSize();
    const Window root = DefaultRootWindow(d);
    const QSize size(DisplayWidth(d, 0), DisplayHeight(d, 0));
    GC gc = XCreateGC(d, root, 0, nullptr);
    for (const auto &[c, r] : {qMakePair(colour, QRect(QPoint(), size)), qMakePair(Box, QRect(size.width() - 100, size.height() - 100, 100, 100))}) {
        XSetForeground(d, gc, c & 0xFFFFFF);
        if (colour)
            XFillRectangle(d, root, gc, r.x(), r.y(), unsigned(r.width()), unsigned(r.height()));
    }
    XFreeGC(d, gc);
    XCloseDisplay(d);
    return size;
}

// xclip on the session's display: reads its CLIPBOARD, or serves `text` there until killed.
QByteArray xclip(const SessionInfo &session, QProcess *serve = nullptr, const QByteArray &text = {})
{
    QProcess read;
    QProcess &process = serve ? *serve : read;
    process.start("env", {"DISPLAY=" + session.display, "XAUTHORITY=" + session.dir + "/Xauthority", "xclip",
                          serve ? "-i" : "-o", "-selection", "clipboard", "-loops", "0"});
    process.write(text);
    process.closeWriteChannel();
    if (!serve)
        process.waitForFinished(5000);
    return process.readAllStandardOutput();
}

} // namespace

class TestSessionChannels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void deskChannel_data();
    void deskChannel();
    void twoViewersSeeTheResizedScreen();
    void options();
    void clipboard_data();
    void clipboard();
    void wrongPasswordIsRefused();

private:
    static QByteArray rdpLog(const SessionInfo &session) { return SessionStack::rdpLog(session); }

    QTemporaryDir settings;
    SessionStack stack;
    SessionInfo session;
    std::unique_ptr<RdpInstance> rdp;
};

void TestSessionChannels::initTestCase()
{
    prepareClientEnvironment(settings.path());
    if (QStandardPaths::findExecutable("xclip").isEmpty())
        QSKIP("xclip is needed");
    START_SESSION_STACK(stack);
    session = stack.startSession("channels", "sleep 600", "1024x768");
    QVERIFY(session.port);
    rdp = stack.connectViewer(session, "1024x768");
    QVERIFY(rdp->isConnected());
}

void TestSessionChannels::cleanupTestCase()
{
    rdp.reset();
    stack.stop({"channels", "options"});
}

void TestSessionChannels::deskChannel_data()
{
    QTest::addColumn<QByteArray>("raw"); // written as it stands before the size request
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("traced");
    QTest::newRow("size request") << QByteArray() << QSize(1280, 800) << QByteArray("12 bytes: 01 00 00 00 04 00 00 00 00 05 20 03\n");
    QTest::newRow("unknown type dropped") << QByteArray::fromHex("6300000002000000abcd") << QSize(1024, 768)
                                          << QByteArray("10 bytes: 63 00 00 00 02 00 00 00 ab cd\n");
}

// What the client writes arrives as the bytes it means; the channel outlives what the
// server does not know.
void TestSessionChannels::deskChannel()
{
    QFETCH(QByteArray, raw);
    QFETCH(QSize, size);
    QFETCH(QByteArray, traced);
    RdpContext *context = rdp->sessionContext();
    QVERIFY(context && context->oxdeskClient);
    // The Resize button waits for the server's first word on the channel.
    QTRY_VERIFY(context->oxdeskHeard);
    QVERIFY(context->mainWidget->findChild<QPushButton *>("ResizeButton")->isEnabled());
    context->mainWidget->setResizeMode(false);
    if (!raw.isEmpty())
        static_cast<OxChannel *>(context->oxdeskClient->handle)->send(OxBytes(raw.begin(), raw.end()));
    context->oxdeskClient->SizeRequest(context->oxdeskClient, quint16(size.width()), quint16(size.height()));
    QTRY_VERIFY_WITH_TIMEOUT(rdpLog(session).contains("oxdesk received " + traced), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(screen(session), size, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(context->mainWidget->desktopWidget()->size(), size, 10000);
    QVERIFY(rdp->isConnected());
}

// In resize mode the window's size becomes the remote screen's; both viewers keep a true picture.
void TestSessionChannels::twoViewersSeeTheResizedScreen()
{
    RdpMainWidget *window = rdp->sessionContext()->mainWidget;
    window->setResizeMode(true);
    window->resize(900, 640);
    QTRY_VERIFY_WITH_TIMEOUT(screen(session) != QSize(1024, 768), 10000);
    window->setResizeMode(false);
    QVERIFY(QRect(0, 0, 900, 640).contains(QRect(QPoint(), screen(session))));
    auto second = stack.connectViewer(session, "1024x768");
    QVERIFY(second->isConnected());
    // A size change clears the root window: paint until the screen keeps its size.
    for (QRgb colour : {qRgb(0x20, 0x50, 0xC0), qRgb(0x10, 0xA0, 0x40)}) {
        for (RdpInstance *viewer : {rdp.get(), second.get()}) {
            QWidget *desktop = viewer->sessionContext()->mainWidget->desktopWidget();
            const auto shows = [&](int x, int y, QRgb c) { return nearColour(widgetPixel(desktop, x, y), c); };
            QVERIFY(QTest::qWaitFor([&] {
                const QSize size = screen(session, colour);
                return desktop->size() == size && shows(5, 5, colour) && shows(size.width() - 5, size.height() - 5, Box)
                    && shows(size.width() - 105, size.height() - 5, colour);
            }, 15000));
        }
    }
}

// The dialog shows what the server reports, the server follows the dialog, and the choice,
// kept per host, goes to the next session's server as well.
void TestSessionChannels::options()
{
    RdpOptionsDialog *dialog = rdp->sessionContext()->optionsDialog;
    auto *fps = dialog->findChild<QSlider *>("FpsSlider");
    auto *manual = dialog->findChild<QGroupBox *>("UpdateBox");
    QVERIFY(fps && manual);
    QTRY_VERIFY_WITH_TIMEOUT(manual->isEnabled(), 10000);
    QVERIFY(fps->value() > 2);
    manual->setChecked(true);
    fps->setSliderPosition(2);
    fps->triggerAction(QSlider::SliderMove);
    QTRY_VERIFY_WITH_TIMEOUT(rdpLog(session).contains("oxcfg received"), 10000);
    QCOMPARE(QSettings().value("e2e-host-Perf/Fps").toInt(), 2);

    // The server's frame rate follows: a screen changing all the time reaches us twice a second.
    QTest::qWait(1000); // what was on its way before
    QSignalSpy frames(rdp.get(), &RdpInstance::regionUpdated);
    for (int i = 0; i < 60; ++i) {
        screen(session, qRgb(i * 4, 0x40, 0x80));
        QTest::qWait(50);
    }
    QVERIFY2(frames.count() >= 3 && frames.count() <= 10, qPrintable(QString::number(frames.count())));

    const SessionInfo next = stack.startSession("options", "sleep 600", "1024x768");
    auto other = stack.connectViewer(next, "1024x768");
    QVERIFY(other->isConnected());
    QSlider *nextFps = other->sessionContext()->optionsDialog->findChild<QSlider *>("FpsSlider");
    QTRY_COMPARE_WITH_TIMEOUT(nextFps->value(), 2, 10000);
    QVERIFY(rdpLog(next).contains("oxcfg received"));
}

void TestSessionChannels::clipboard_data()
{
    QTest::addColumn<bool>("fromSession");
    QTest::addColumn<QString>("text");
    QTest::newRow("session to client") << true << QStringLiteral("gr\u00fc\u00dfe\nzwei \u20ac\n");
    QTest::newRow("client to session") << false << QStringLiteral("\u2713 eins\n\nzwei \u65e5\u672c");
}

void TestSessionChannels::clipboard()
{
    QFETCH(bool, fromSession);
    QFETCH(QString, text);
    QProcess serve;
    if (fromSession) {
        xclip(session, &serve, text.toUtf8());
        QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), text, 20000);
    } else {
        QGuiApplication::clipboard()->setText(text);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(xclip(session)), text, 20000);
    }
    stopProcess(serve);
}

void TestSessionChannels::wrongPasswordIsRefused()
{
    auto refused = stack.connectViewer(session, "1024x768", "0123456789abcdef0123456789abcdeg");
    QTRY_VERIFY_WITH_TIMEOUT(!refused->isConnected() && refused->exitCode() != 0, 20000);
    QVERIFY(rdp->isConnected());
}

QTEST_MAIN(TestSessionChannels)
#include "tst_sessionchannels.moc"
