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
#include <QtTest>

#include <freerdp/input.h>
#include <freerdp/scancode.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// The viewer list of the sharing dialog ("*" marks the one in control), with the ids.
QStringList viewerList(RdpInstance &rdp, QMap<QString, quint32> *ids = nullptr)
{
    QStringList names;
    RdpContext *context = rdp.sessionContext();
    auto *model = context && context->sharingDialog
        ? context->sharingDialog->findChild<RdpViewerModel *>() : nullptr;
    for (int row = 0; model && row < model->rowCount(); ++row) {
        const RdpViewer viewer = model->viewerAt(row);
        names << viewer.name + (viewer.controller ? "*" : "");
        if (ids)
            ids->insert(viewer.name, viewer.id);
    }
    return names;
}

quint32 viewerId(RdpInstance &rdp, const QString &name)
{
    QMap<QString, quint32> ids;
    return viewerList(rdp, &ids), ids.value(name, RdpViewerModel::InvalidId);
}

// Paints a red box at 100,100 into the session; whether a desktop shows it (frames are lossy).
bool showsBox(Display *display, RdpInstance &rdp)
{
    GC gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
    XSetForeground(display, gc, 0xE03010);
    XFillRectangle(display, DefaultRootWindow(display), gc, 100, 100, 200, 100);
    XFreeGC(display, gc);
    XSync(display, False);
    QWidget *desktop = rdp.sessionContext()->mainWidget->desktopWidget();
    const QRgb pixel = desktop->grab(QRect(150, 150, 1, 1)).toImage().pixel(0, 0);
    return qAbs(qRed(pixel) - 0xE0) + qAbs(qGreen(pixel) - 0x30) + qAbs(qBlue(pixel) - 0x10) <= 30;
}

void typeKey(RdpInstance &rdp, UINT32 scancode)
{
    freerdp_input_send_keyboard_event_ex(rdp.sessionContext()->input(), TRUE, scancode);
    freerdp_input_send_keyboard_event_ex(rdp.sessionContext()->input(), FALSE, scancode);
}

} // namespace

// The owner's client shares a session of nuvek2_rdp; viewers join with the key's password.
class TestSessionSharing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void shareAndView();
    void removeViewers();

private:
    std::unique_ptr<RdpInstance> connect(const QString &user, const QString &password);
    bool received(KeySym key); // whether the session had the key (all keys go to typed)

    SessionServerFixture server;
    std::unique_ptr<RdpInstance> owner;
    Display *display = nullptr;
    QList<KeySym> typed;
    QString password; // of the sharing
};

void TestSessionSharing::initTestCase()
{
    if (!SessionServerFixture::isAvailable())
        QSKIP("Xvnc and nuvek2_rdp are needed");
    QString why;
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
    QVERIFY((display = XOpenDisplay(server.display().constData())));
    // No window on the screen: the root window hears every key played into the session.
    XSelectInput(display, DefaultRootWindow(display), KeyPressMask);
    XSync(display, False);
    owner = connect("owner", SessionServerFixture::password());
    QVERIFY(owner->sessionContext() && owner->sessionContext()->sharingDialog);
}

void TestSessionSharing::cleanupTestCase()
{
    if (display)
        XCloseDisplay(display);
}

std::unique_ptr<RdpInstance> TestSessionSharing::connect(const QString &user, const QString &password)
{
    auto rdp = std::make_unique<RdpInstance>();
    QSignalSpy connectedSpy(rdp.get(), &RdpInstance::connected);
    QSignalSpy finishedSpy(rdp.get(), &RdpInstance::finished);
    rdp->connectToSession("127.0.0.1", server.port(), user, password, 0, "640x480", user, false,
                          QVariantMap());
    if (!QTest::qWaitFor([&] { return !connectedSpy.isEmpty() || !finishedSpy.isEmpty(); }, 20000))
        qWarning("%s: no answer in 20 s", qPrintable(user));
    return rdp;
}

bool TestSessionSharing::received(KeySym key)
{
    for (XEvent event; XPending(display);)
        if (XNextEvent(display, &event) == 0 && event.type == KeyPress)
            typed << XLookupKeysym(&event.xkey, 0);
    return typed.contains(key);
}

void TestSessionSharing::shareAndView()
{
    // Sharing on through the owner's dialog; the key it hands out has the password.
    RdpSharingDialog *dialog = owner->sessionContext()->sharingDialog;
    auto *button = dialog->findChild<QPushButton *>("SharingButton");
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000); // the owner has its id
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QPushButton *>("ShareKeyButton")->isEnabled(), 10000);
    dialog->findChild<QAction *>("ClipboardAction")->trigger();
    SharingKey key;
    QVERIFY(SharingKey::parse(QGuiApplication::clipboard()->text(), &key));
    QCOMPARE(key.rdpPort, server.port());
    QCOMPARE((password = key.password).size(), 32);

    auto viewer = connect("alice", password);
    QVERIFY(viewer->sessionContext() && viewer->sessionContext()->mainWidget);
    const QStringList everyone{"owner*", "alice"};
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
    // The viewer sees what the owner sees (painted again: the owner's window sizes the screen).
    QTRY_VERIFY_WITH_TIMEOUT(showsBox(display, *owner) && showsBox(display, *viewer), 10000);

    // Without control the viewer's keys stay out of the session; the owner's reach it.
    typeKey(*viewer, RDP_SCANCODE_KEY_A);
    typeKey(*owner, RDP_SCANCODE_KEY_B);
    QTRY_VERIFY_WITH_TIMEOUT(received(XK_b), 10000);
    QVERIFY(!typed.contains(XK_a));
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->GiveControl(channel, viewerId(*owner, "alice"));
    // Everyone hears the change.
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*viewer), QStringList({"owner", "alice*"}), 10000);
    typed.clear();
    typeKey(*owner, RDP_SCANCODE_KEY_B);
    typeKey(*viewer, RDP_SCANCODE_KEY_A);
    QTRY_VERIFY_WITH_TIMEOUT(received(XK_a), 10000);
    QVERIFY(!typed.contains(XK_b));
    // The owner follows the viewer's pointer.
    freerdp_input_send_mouse_event(viewer->sessionContext()->input(), PTR_FLAGS_MOVE, 321, 123);
    QWidget *ownerDesktop = owner->sessionContext()->mainWidget->desktopWidget();
    QTRY_COMPARE_WITH_TIMEOUT(ownerDesktop->property("overlayMousePosition").toPoint(),
                              QPoint(321, 123), 10000);
    // A viewer in control may hand control back, but not stop sharing or remove anyone.
    channel = viewer->sessionContext()->oxshareClient;
    channel->StopSharing(channel);
    channel->KickViewer(channel, viewerId(*owner, "alice"));
    channel->GiveControl(channel, 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
}

// Removed viewers end quietly (exit code 1); after sharing stops the password is refused.
void TestSessionSharing::removeViewers()
{
    auto bob = connect("bob", password);
    auto carol = connect("carol", password);
    QSignalSpy bobFinished(bob.get(), &RdpInstance::finished);
    QSignalSpy carolFinished(carol.get(), &RdpInstance::finished);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*", "bob", "carol"}), 10000);
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->KickViewer(channel, viewerId(*owner, "bob"));
    QTRY_COMPARE_WITH_TIMEOUT(bobFinished.count(), 1, 10000);
    QCOMPARE(bob->exitCode(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*", "carol"}), 10000);
    QCOMPARE(carolFinished.count(), 0);
    channel->StopSharing(channel);
    QTRY_COMPARE_WITH_TIMEOUT(carolFinished.count(), 1, 10000);
    QCOMPARE(carol->exitCode(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*"}), 10000);
    auto late = connect("dave", password);
    QTRY_VERIFY_WITH_TIMEOUT(late->exitCode() != 0 && !late->sessionContext(), 10000);
}

QTEST_MAIN(TestSessionSharing)
#include "tst_sessionsharing.moc"
