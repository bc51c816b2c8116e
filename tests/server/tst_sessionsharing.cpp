#include "channels/oxshare/oxshare_main.h"
#include "link/operationstatusdialog.h"
#include "link/sshdevice.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "sessions/joinsharedsession.h"
#include "sessions/sharingkey.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsharingdialog.h"
#include "windows/rdpsharingnotification.h"
#include "windows/rdpviewermodel.h"

#include "support/sessionserverfixture.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

// Xlib's macros hide Qt's names of key events.
constexpr QEvent::Type QtKeyPress = QEvent::KeyPress, QtKeyRelease = QEvent::KeyRelease;

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// The viewer list of a session window's sharing dialog ("*" marks the one in control), with
// the ids.
QStringList viewerList(QWidget *window, QMap<QString, quint32> *ids = nullptr)
{
    QStringList names;
    auto *model = window ? window->findChild<RdpViewerModel *>() : nullptr;
    for (int row = 0; model && row < model->rowCount(); ++row) {
        const RdpViewer viewer = model->viewerAt(row);
        names << viewer.name + (viewer.controller ? "*" : "");
        if (ids)
            ids->insert(viewer.name, viewer.id);
    }
    return names;
}

QStringList viewerList(RdpInstance &rdp)
{
    return viewerList(rdp.sessionContext() ? rdp.sessionContext()->mainWidget : nullptr);
}

quint32 viewerId(RdpInstance &rdp, const QString &name)
{
    QMap<QString, quint32> ids;
    return viewerList(rdp.sessionContext()->mainWidget, &ids), ids.value(name, RdpViewerModel::InvalidId);
}

QWidget *desktopOf(RdpInstance &rdp)
{
    return rdp.sessionContext()->mainWidget->desktopWidget();
}

// Paints a red box at 100,100 into the session; whether a desktop shows it (frames are lossy).
bool showsBox(Display *display, QWidget *desktop)
{
    GC gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
    XSetForeground(display, gc, 0xE03010);
    XFillRectangle(display, DefaultRootWindow(display), gc, 100, 100, 200, 100);
    XFreeGC(display, gc);
    XSync(display, False);
    const QRgb pixel = desktop->grab(QRect(150, 150, 1, 1)).toImage().pixel(0, 0);
    return qAbs(qRed(pixel) - 0xE0) + qAbs(qGreen(pixel) - 0x30) + qAbs(qBlue(pixel) - 0x10) <= 30;
}

// A key typed into a session window (X key code).
void typeKey(QWidget *desktop, quint32 keyCode)
{
    for (QEvent::Type type : {QtKeyPress, QtKeyRelease}) {
        QKeyEvent event(type, 0, Qt::NoModifier, keyCode, 0, 0);
        QCoreApplication::sendEvent(desktop, &event);
    }
}

const quint32 KeyA = 38, KeyB = 56;

} // namespace

// The owner's client shares a session of nuvek2_rdp; viewers join with the key it hands out,
// through an SSH link of another account (or straight to the port, or logged in directly).
class TestSessionSharing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void shareAndView();
    void removeViewers();
    void joinDirect();

private:
    std::unique_ptr<RdpInstance> connect(const QString &user, const QString &password,
                                         const QVariantMap &params = {});
    QPointer<RdpMainWidget> join(const QString &name, const QString &key);
    bool received(KeySym key); // whether the session had the key (all keys go to typed)

    QTemporaryDir home;
    SessionServerFixture server;
    SshdFixture sshd;
    std::unique_ptr<RdpInstance> owner;
    Display *display = nullptr;
    QList<KeySym> typed;
    QString key; // of the sharing
    QPointer<RdpMainWidget> alice; // her window: she joined through SSH
};

void TestSessionSharing::initTestCase()
{
    QString why;
    if (!SessionServerFixture::isAvailable() || !sshd.isAvailable(&why))
        QSKIP(qPrintable("Xvnc, nuvek2_rdp and sshd are needed " + why));
    prepareClientEnvironment(home.path());
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path())); // the certificates trusted
    QVERIFY2(sshd.start(&why), qPrintable(why));
    sshd.applyClientEnvironment();
    QVERIFY2(server.start(QSize(640, 480), &why), qPrintable(why));
    QVERIFY((display = XOpenDisplay(server.display().constData())));
    // No window on the screen: the root window hears every key played into the session.
    XSelectInput(display, DefaultRootWindow(display), KeyPressMask);
    XSync(display, False);
    // The owner reached the server over SSH: the key sends viewers there.
    owner = connect("owner", SessionServerFixture::password(),
                    {{"SshHost", sshd.host()}, {"SshPort", sshd.port()}});
    QVERIFY(owner->sessionContext() && owner->sessionContext()->sharingDialog);
}

void TestSessionSharing::cleanupTestCase()
{
    owner.reset();
    if (display)
        XCloseDisplay(display);
    QTRY_COMPARE_WITH_TIMEOUT(childProcessIds("plink").size() + childProcessIds("askpass").size(), 0, 10000);
}

std::unique_ptr<RdpInstance> TestSessionSharing::connect(const QString &user, const QString &password,
                                                         const QVariantMap &params)
{
    auto rdp = std::make_unique<RdpInstance>();
    QSignalSpy connectedSpy(rdp.get(), &RdpInstance::connected);
    QSignalSpy finishedSpy(rdp.get(), &RdpInstance::finished);
    rdp->connectToSession("127.0.0.1", server.port(), user, password, 0, "640x480", user, false, params);
    if (!QTest::qWaitFor([&] { return !connectedSpy.isEmpty() || !finishedSpy.isEmpty(); }, 20000))
        qWarning("%s: no answer in 20 s", qPrintable(user));
    return rdp;
}

// Joins as `name` the way the Join button does, logging in to the SSH server as the second
// account through the status dialog's questions; the window of the new session, if any.
QPointer<RdpMainWidget> TestSessionSharing::join(const QString &name, const QString &key)
{
    const QList<RdpMainWidget *> before = topLevelWindows<RdpMainWidget>();
    // A tunnel port of its own, so that tests running beside this one don't collide.
    const quint16 port = SshdFixture::freePort();
    qobject_cast<SshDevice *>(joinSharedSession(key, name, false))->setTunnelPortRange(port, quint16(port + 1));
    QPointer<OperationStatusDialog> status = topLevelWindows<OperationStatusDialog>().value(0);
    // The login name is asked for first (the local one offered), then the password.
    for (const QString &answer : {sshd.secondUser(), sshd.password()}) {
        QLineEdit *line = status ? status->findChild<QLineEdit *>(answer == sshd.password() ? "AnswerLineEdit"
                                                                                           : "UserLineEdit")
                                 : nullptr;
        if (!QTest::qWaitFor([&] { return !status || (line->isVisible() && line->text() != answer); }, 20000)
            || !status)
            return nullptr;
        line->setText(answer);
        for (QAbstractButton *button : status->findChild<QDialogButtonBox *>("ButtonBox")->buttons())
            if (button->text() == "Continue")
                button->click();
    }
    QPointer<RdpMainWidget> window;
    (void)QTest::qWaitFor([&] {
        for (RdpMainWidget *w : topLevelWindows<RdpMainWidget>())
            window = before.contains(w) ? window.data() : w;
        return window || !visibleErrorBoxes().isEmpty();
    }, 20000);
    return window;
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
    // Sharing on through the owner's dialog; the key it hands out leads to the private sshd.
    RdpSharingDialog *dialog = owner->sessionContext()->sharingDialog;
    auto *button = dialog->findChild<QPushButton *>("SharingButton");
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000); // the owner has its id
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QPushButton *>("ShareKeyButton")->isEnabled(), 10000);
    dialog->findChild<QAction *>("ClipboardAction")->trigger();
    SharingKey parsed;
    QVERIFY(SharingKey::parse(key = QGuiApplication::clipboard()->text(), &parsed));
    QCOMPARE(parsed.sshPort, sshd.port());
    QCOMPARE(parsed.rdpPort, server.port());
    QCOMPARE(parsed.password.size(), 32);

    alice = join("alice", key);
    QVERIFY(alice);
    const QStringList everyone{"owner*", "alice"};
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
    auto *notification = owner->sessionContext()->mainWidget->findChild<RdpSharingNotification *>();
    QTRY_VERIFY(notification->text().contains("alice has joined the session."));
    // The viewer sees what the owner sees (painted again: the owner's window sizes the screen).
    QTRY_VERIFY_WITH_TIMEOUT(showsBox(display, desktopOf(*owner)) && showsBox(display, alice->desktopWidget()),
                             10000);

    // Without control the viewer's keys stay out of the session; the owner's reach it.
    typeKey(alice->desktopWidget(), KeyA);
    typeKey(desktopOf(*owner), KeyB);
    QTRY_VERIFY_WITH_TIMEOUT(received(XK_b), 10000);
    QVERIFY(!typed.contains(XK_a));
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->GiveControl(channel, viewerId(*owner, "alice"));
    // Everyone hears the change.
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(alice), QStringList({"owner", "alice*"}), 10000);
    typed.clear();
    typeKey(desktopOf(*owner), KeyB);
    typeKey(alice->desktopWidget(), KeyA);
    QTRY_VERIFY_WITH_TIMEOUT(received(XK_a), 10000);
    QVERIFY(!typed.contains(XK_b));
    // The owner follows the viewer's pointer.
    QMouseEvent move(QEvent::MouseMove, QPointF(321, 123), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(alice->desktopWidget(), &move);
    QTRY_COMPARE_WITH_TIMEOUT(desktopOf(*owner)->property("overlayMousePosition").toPoint(), QPoint(321, 123),
                              10000);
    channel->GiveControl(channel, 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
}

// Removed viewers end without a message; after sharing stops the key is refused.
void TestSessionSharing::removeViewers()
{
    QPointer<RdpMainWidget> carol = join("carol", key);
    SharingKey parsed;
    SharingKey::parse(key, &parsed);
    auto bob = connect("bob", parsed.password);
    QSignalSpy bobFinished(bob.get(), &RdpInstance::finished);
    QVERIFY(alice && carol);
    const QStringList everyone{"owner*", "alice", "carol", "bob"};
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);
    // A viewer in control may hand control back, but not stop sharing or remove anyone.
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->GiveControl(channel, viewerId(*owner, "bob"));
    QTRY_VERIFY_WITH_TIMEOUT(viewerList(*bob).contains("bob*"), 10000);
    OxshareClientContext *bobChannel = bob->sessionContext()->oxshareClient;
    bobChannel->StopSharing(bobChannel);
    bobChannel->KickViewer(bobChannel, viewerId(*owner, "carol"));
    bobChannel->GiveControl(bobChannel, 0);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), everyone, 10000);

    // The removed viewer's window closes, and no message comes (the session ended on purpose).
    channel->KickViewer(channel, viewerId(*owner, "carol"));
    QTRY_VERIFY_WITH_TIMEOUT(!carol, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*", "alice", "bob"}), 10000);
    QCOMPARE(bobFinished.count(), 0);
    channel->StopSharing(channel);
    QTRY_VERIFY_WITH_TIMEOUT(!alice && bobFinished.count() == 1, 10000);
    QCOMPARE(bob->exitCode(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*"}), 10000);
    QCOMPARE(visibleErrorBoxTexts(), QString());
    QPointer<RdpMainWidget> late = join("dave", key);
    QTRY_VERIFY_WITH_TIMEOUT(!late && !visibleErrorBoxes().isEmpty(), 10000);
    // It says why (stale keys are common), not that something unknown went wrong.
    QCOMPARE(visibleErrorBoxTexts(), QString("There was a problem joining the session.<br><br>"
                                             "The session is no longer shared with this key.\n"));
    qDeleteAll(visibleErrorBoxes());
}

// A key may send the viewer straight to the port (TLS): the certificate is asked about first.
void TestSessionSharing::joinDirect()
{
    // Sharing again, with a new password.
    RdpSharingDialog *dialog = owner->sessionContext()->sharingDialog;
    dialog->findChild<QPushButton *>("SharingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QPushButton *>("ShareKeyButton")->isEnabled(), 10000);
    dialog->findChild<QAction *>("ClipboardAction")->trigger();
    SharingKey parsed;
    QVERIFY(SharingKey::parse(QGuiApplication::clipboard()->text(), &parsed));
    const QJsonObject direct{{"Hostname", "127.0.0.1"}, {"RdpPort", server.port()},
                             {"Password", parsed.password}, {"Direct", true}};
    QPointer<QObject> viewer = joinSharedSession(
        QJsonDocument(direct).toJson(QJsonDocument::Compact).toBase64(), "erin", false);
    QMessageBox *question = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((question = topLevelWindows<QMessageBox>().value(0)), 10000);
    QCOMPARE(question->objectName(), QString("RdpCertificatePrompt"));
    question->findChild<QPushButton *>("ConnectOnceButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(viewerList(*owner), QStringList({"owner*", "erin"}), 10000);
    auto *rdp = static_cast<RdpInstance *>(viewer.data());
    QTRY_VERIFY_WITH_TIMEOUT(viewer && rdp->sessionContext() && rdp->sessionContext()->mainWidget, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(showsBox(display, desktopOf(*rdp)), 10000);
    OxshareClientContext *channel = owner->sessionContext()->oxshareClient;
    channel->StopSharing(channel);
    QTRY_VERIFY_WITH_TIMEOUT(!viewer, 10000);
}

QTEST_MAIN(TestSessionSharing)
#include "tst_sessionsharing.moc"
