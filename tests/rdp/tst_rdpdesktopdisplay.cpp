#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpkeyboard.h"
#include "windows/rdpmainwidget.h"

#include "support/shadowserverfixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <X11/Xlib.h>
#undef KeyPress
#undef KeyRelease

namespace {

const QRgb background = qRgb(0x20, 0x50, 0xC0);
const QRgb box = qRgb(0xE0, 0x30, 0x10);
const QRgb dot = qRgb(0x30, 0xC0, 0x40);

// Paints the root window of the X display: a blue background, a red box at 100,100 of
// 200 × 100 and a green 8 × 8 dot at 400,300.
bool paintScreen(const QByteArray &displayName)
{
    Display *display = XOpenDisplay(displayName.constData());
    if (!display)
        return false;
    const Window root = DefaultRootWindow(display);
    GC gc = XCreateGC(display, root, 0, nullptr);
    const auto fill = [&](QRgb colour, int x, int y, int w, int h) {
        XSetForeground(display, gc, colour & 0xFFFFFF);
        XFillRectangle(display, root, gc, x, y, unsigned(w), unsigned(h));
    };
    fill(background, 0, 0, 640, 480);
    fill(box, 100, 100, 200, 100);
    fill(dot, 400, 300, 8, 8);
    XFreeGC(display, gc);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

// The codec is lossy: a colour may come back a few steps off.
bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8
        && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

QPoint pointerPosition(const QByteArray &displayName)
{
    Display *display = XOpenDisplay(displayName.constData());
    if (!display)
        return QPoint(-1, -1);
    Window root, child;
    int x = -1, y = -1, windowX, windowY;
    unsigned int mask;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY,
                  &mask);
    XCloseDisplay(display);
    return QPoint(x, y);
}

// The X key codes held down on the display.
QList<int> keysDown(const QByteArray &displayName)
{
    QList<int> down;
    Display *display = XOpenDisplay(displayName.constData());
    if (!display)
        return down;
    char keys[32];
    XQueryKeymap(display, keys);
    XCloseDisplay(display);
    for (int code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8)))
            down << code;
    return down;
}

} // namespace

// The desktop window of a real connection shows the remote screen's pixels, at zoom 1 and
// after a change to zoom 2, and sends its input there. FreeRDP's shadow server serves a
// private X display.
class TestRdpDesktopDisplay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void showsRemoteScreen();

private:
    ShadowServerFixture server;
    QByteArray display;
    quint16 port = 0;
};

void TestRdpDesktopDisplay::initTestCase()
{
    if (!ShadowServerFixture::isAvailable())
        QSKIP("Xvfb and freerdp-shadow-cli are needed");
    QString why;
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
    display = server.display();
    port = server.port();
}

void TestRdpDesktopDisplay::cleanupTestCase()
{
    server.stop();
}

void TestRdpDesktopDisplay::showsRemoteScreen()
{
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), port, QStringLiteral("tester"),
                                 QString(), 0, QStringLiteral("640x480"),
                                 QStringLiteral("Display"), false, QVariantMap()));
    QTRY_VERIFY_WITH_TIMEOUT(connectedSpy.count() == 1 || finishedSpy.count() == 1, 20000);
    QCOMPARE(finishedSpy.count(), 0);
    RdpContext *context = rdp.sessionContext();
    QVERIFY(context && context->mainWidget);
    QWidget *desktop = context->mainWidget->desktopWidget();
    QVERIFY(desktop);
    QCOMPARE(desktop->size(), QSize(640, 480));
    // The server sends what changes on its screen.
    QVERIFY(paintScreen(display));

    const auto pixel = [&](int x, int y) {
        return desktop->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0) | 0xFF000000u;
    };
    QTRY_VERIFY_WITH_TIMEOUT(near(pixel(150, 150), box), 10000);
    // (A few pixels off the edges: the codec smears them a little.)
    QVERIFY(near(pixel(10, 10), background));
    QVERIFY(near(pixel(295, 195), box));
    QVERIFY(near(pixel(305, 205), background));
    QVERIFY(near(pixel(404, 304), dot));

    // Zoom 2, as the options dialog sets it: every remote pixel becomes 2 × 2.
    context->remoteToLocalScale = 2.0;
    context->localToRemoteScale = 0.5;
    context->mainWidget->handleScaleChanged();
    QCOMPARE(desktop->size(), QSize(1280, 960));
    QVERIFY(near(pixel(20, 20), background));
    QVERIFY(near(pixel(300, 300), box));
    QVERIFY(near(pixel(590, 390), box));
    QVERIFY(near(pixel(610, 410), background));
    QVERIFY(near(pixel(808, 608), dot));
    QVERIFY(near(pixel(830, 630), background));
    // Both local pixels of one remote pixel are the same.
    QCOMPARE(pixel(808, 608), pixel(809, 609));

    // Mouse input reaches the remote screen in remote pixels.
    QMouseEvent move(QEvent::MouseMove, QPointF(247, 91), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(desktop, &move);
    QTRY_COMPARE_WITH_TIMEOUT(pointerPosition(display), QPoint(123, 45), 5000);

    // Keys arrive as the same keys, extended ones too (both sides use the same layout).
    initRdpKeyboard(0x409);
    for (int code : {38, 108, 105}) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, quint32(code), 0, 0);
        QApplication::sendEvent(desktop, &press);
        QTRY_COMPARE_WITH_TIMEOUT(keysDown(display), QList<int>{code}, 5000);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, quint32(code), 0, 0);
        QApplication::sendEvent(desktop, &release);
        QTRY_COMPARE_WITH_TIMEOUT(keysDown(display), QList<int>(), 5000);
    }

    // Caps Lock and Num Lock pressed in the session lock the remote display's keyboard; the
    // lock states read from an X display follow.
    QCOMPARE(x11LockFlags(display), 0u);
    const auto click = [&](quint32 code) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, code, 0, 0);
        QApplication::sendEvent(desktop, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, code, 0, 0);
        QApplication::sendEvent(desktop, &release);
    };
    click(66);
    QTRY_COMPARE_WITH_TIMEOUT(x11LockFlags(display), 4u, 5000);
    click(77);
    QTRY_COMPARE_WITH_TIMEOUT(x11LockFlags(display), 6u, 5000);
    click(66);
    QTRY_COMPARE_WITH_TIMEOUT(x11LockFlags(display), 2u, 5000);

    // Closing the window ends the connection, once the close has been handled.
    QVERIFY(context->mainWidget->close());
    QCOMPARE(finishedSpy.count(), 0);
    QTRY_COMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
}

QTEST_MAIN(TestRdpDesktopDisplay)
#include "tst_rdpdesktopdisplay.moc"
