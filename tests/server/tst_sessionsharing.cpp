#include "channels/oxshare/oxshare_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "sessions/sharingkey.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsharingdialog.h"
#include "windows/rdpviewermodel.h"

#include "support/sessionserverfixture.h"

#include <QAction>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <freerdp/input.h>
#include <freerdp/scancode.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace {

// The viewer list an RdpInstance's sharing dialog shows, "*" marking the one in control.
QStringList viewerList(RdpInstance &rdp)
{
    QStringList names;
    RdpContext *context = rdp.sessionContext();
    auto *model = context && context->sharingDialog
        ? context->sharingDialog->findChild<RdpViewerModel *>(QStringLiteral("ViewerListModel"))
        : nullptr;
    for (int row = 0; model && row < model->rowCount(); ++row)
        names << model->viewerAt(row).name + (model->viewerAt(row).controller ? "*" : "");
    return names;
}

quint32 viewerId(RdpInstance &rdp, const QString &name)
{
    auto *model = rdp.sessionContext()->sharingDialog->findChild<RdpViewerModel *>();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->viewerAt(row).name == name)
            return model->viewerAt(row).id;
    return RdpViewerModel::InvalidId;
}

// Whether the desktop shows the box painted into the session (lossy frames: nearly its colour).
bool showsBox(RdpInstance &rdp)
{
    QWidget *desktop = rdp.sessionContext()->mainWidget->desktopWidget();
    const QRgb pixel = desktop->grab(QRect(150, 150, 1, 1)).toImage().pixel(0, 0);
    return qAbs(qRed(pixel) - 0xE0) <= 12 && qAbs(qGreen(pixel) - 0x30) <= 12
        && qAbs(qBlue(pixel) - 0x10) <= 12;
}

QPoint overlayPointer(RdpInstance &rdp)
{
    return rdp.sessionContext()->mainWidget->desktopWidget()->property("overlayMousePosition").toPoint();
}

void typeKey(RdpInstance &rdp, UINT32 scancode)
{
    rdpInput *input = rdp.sessionContext()->input();
    freerdp_input_send_keyboard_event_ex(input, TRUE, scancode);
    freerdp_input_send_keyboard_event_ex(input, FALSE, scancode);
}

} // namespace

// Sharing a session of nuvek2_rdp: the owner's client shares, viewers log in with the key's
// password, see the session, type only once given control, and leave when removed.
class TestSessionSharing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void shareAndView();
    void endViewers_data();
    void endViewers();

private:
    std::unique_ptr<RdpInstance> connect(const QString &user, const QString &password);
    void share(QString *password);

    SessionServerFixture server;
    std::unique_ptr<RdpInstance> owner;
    Display *display = nullptr;
    QList<KeySym> typed; // keys the session received

    void collectKeys()
    {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress)
                typed << XLookupKeysym(&event.xkey, 0);
        }
    }
};

void TestSessionSharing::initTestCase()
{
    if (!SessionServerFixture::isAvailable())
        QSKIP("Xvnc and nuvek2_rdp are needed");
    QString why;
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
    display = XOpenDisplay(server.display().constData());
    QVERIFY(display);
    // Nothing else is on the screen: with the focus following the pointer, the root window
    // hears every key the server plays into the session.
    XSelectInput(display, DefaultRootWindow(display), KeyPressMask);
    XSync(display, False);
    owner = connect(QStringLiteral("owner"), SessionServerFixture::password());
    QVERIFY(owner->sessionContext() && owner->sessionContext()->sharingDialog);
}

void TestSessionSharing::cleanupTestCase()
{
    owner.reset();
    if (display)
        XCloseDisplay(display);
    server.stop();
}

std::unique_ptr<RdpInstance> TestSessionSharing::connect(const QString &user, const QString &password)
{
    auto rdp = std::make_unique<RdpInstance>();
    QSignalSpy connectedSpy(rdp.get(), &RdpInstance::connected);
    QSignalSpy finishedSpy(rdp.get(), &RdpInstance::finished);
    rdp->connectToSession(QStringLiteral("127.0.0.1"), server.port(), user, password, 0,
                          QStringLiteral("640x480"), user, false, QVariantMap());
    const QDeadlineTimer deadline(20000);
    while (connectedSpy.isEmpty() && finishedSpy.isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    return rdp;
}

// Turns sharing on (off first if it is on) through the owner's sharing dialog and reads the
// password from the key the dialog hands out.
void TestSessionSharing::share(QString *password)
{
    RdpSharingDialog *dialog = owner->sessionContext()->sharingDialog;
    auto *button = dialog->findChild<QPushButton *>(QStringLiteral("SharingButton"));
    auto *keyButton = dialog->findChild<QPushButton *>(QStringLiteral("ShareKeyButton"));
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000); // the owner has its id
    if (keyButton->isEnabled()) {
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!keyButton->isEnabled(), 10000);
    }
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(keyButton->isEnabled(), 10000); // the server shares
    dialog->findChild<QAction *>(QStringLiteral("ClipboardAction"))->trigger();
    SharingKey key;
    QVERIFY(SharingKey::parse(QGuiApplication::clipboard()->text(), &key));
    QCOMPARE(key.rdpPort, server.port());
    *password = key.password;
}

void TestSessionSharing::shareAndView()
{
    QString password;
    share(&password);
    QCOMPARE(password.size(), 32);
    auto viewer = connect(QStringLiteral("alice"), password);
    QVERIFY(viewer->sessionContext() && viewer->sessionContext()->mainWidget);
    const QStringList everyone{QStringLiteral("owner*"), QStringLiteral("alice")};
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*viewer), everyone, 10000);

    // The viewer sees what the owner sees.
    GC gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
    XSetForeground(display, gc, 0xE03010);
    XFillRectangle(display, DefaultRootWindow(display), gc, 100, 100, 200, 100);
    XFreeGC(display, gc);
    XSync(display, False);
    QTRY_VERIFY_WITH_TIMEOUT(showsBox(*owner) && showsBox(*viewer), 10000);

    // Without control the viewer's keys stay out of the session; the owner's reach it.
    typeKey(*viewer, RDP_SCANCODE_KEY_A);
    typeKey(*owner, RDP_SCANCODE_KEY_B);
    QTRY_VERIFY_WITH_TIMEOUT((collectKeys(), typed.contains(XK_b)), 10000);
    QVERIFY(!typed.contains(XK_a));

    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->GiveControl(channel, viewerId(*owner, QStringLiteral("alice")));
    const QStringList aliceInControl{QStringLiteral("owner"), QStringLiteral("alice*")};
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), aliceInControl, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*viewer), aliceInControl, 10000);
    typed.clear();
    typeKey(*owner, RDP_SCANCODE_KEY_B);
    typeKey(*viewer, RDP_SCANCODE_KEY_A);
    QTRY_VERIFY_WITH_TIMEOUT((collectKeys(), typed.contains(XK_a)), 10000);
    QVERIFY(!typed.contains(XK_b));
    // The owner follows the viewer's pointer.
    freerdp_input_send_mouse_event(viewer->sessionContext()->input(), PTR_FLAGS_MOVE, 321, 123);
    QTRY_COMPARE_WITH_TIMEOUT(overlayPointer(*owner), QPoint(321, 123), 10000);
    // A viewer, even in control, may not stop sharing or remove anyone, but may hand control
    // back (served in this order: once the owner has control, the others were refused).
    channel = viewer->sessionContext()->oxshareClient;
    channel->StopSharing(channel);
    channel->KickViewer(channel, viewerId(*owner, QStringLiteral("alice")));
    channel->GiveControl(channel, 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
    QVERIFY(owner->sessionContext()->sharingDialog->findChild<QPushButton *>(
        QStringLiteral("ShareKeyButton"))->isEnabled());
}

void TestSessionSharing::endViewers_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("kick") << false;
    QTest::newRow("stop sharing") << true;
}

// Viewers removed end quietly (exit code 1 shows no message); once sharing stops the old
// password logs in no more.
void TestSessionSharing::endViewers()
{
    QFETCH(bool, stop);
    QString password;
    share(&password);
    QCOMPARE(password.size(), 32);
    auto bob = connect(QStringLiteral("bob"), password);
    auto carol = connect(QStringLiteral("carol"), password);
    QSignalSpy bobFinished(bob.get(), &RdpInstance::finished);
    QSignalSpy carolFinished(carol.get(), &RdpInstance::finished);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner).size(), 3, 10000);
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    if (stop)
        channel->StopSharing(channel);
    else
        channel->KickViewer(channel, viewerId(*owner, QStringLiteral("bob")));
    QTRY_COMPARE_WITH_TIMEOUT(bobFinished.count(), 1, 10000);
    QCOMPARE(bob->exitCode(), 1);
    if (!stop) {
        QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner),
                                  QStringList({QStringLiteral("owner*"), QStringLiteral("carol")}),
                                  10000);
        QCOMPARE(carolFinished.count(), 0);
        channel->StopSharing(channel);
    }
    QTRY_COMPARE_WITH_TIMEOUT(carolFinished.count(), 1, 10000);
    QCOMPARE(carol->exitCode(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({QStringLiteral("owner*")}), 10000);
    auto late = connect(QStringLiteral("dave"), password);
    QTRY_VERIFY_WITH_TIMEOUT(late->exitCode() != 0 && !late->sessionContext(), 10000);
}

QTEST_MAIN(TestSessionSharing)
#include "tst_sessionsharing.moc"
