#include "rdp/rdpcoordinates.h"
#include "rdp/rdpdesktopwidget.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsharingnotification.h"
#include "windows/rdptoolbar.h"

#include "support/fakerdpsession.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

namespace {

// Stands for the desktop widget: records the keys that reach it.
class KeyRecorder : public QWidget
{
public:
    explicit KeyRecorder(QSize hint) : hint(hint) { setFocusPolicy(Qt::ClickFocus); }
    QSize sizeHint() const override { return hint; }
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_Shift)
            keys << event->key();
    }

private:
    QSize hint;
};

struct SizeRequest
{
    int width;
    int height;
    qint64 at; // ms since the test started
};

} // namespace

class TestRdpMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void form();
    void desktopWidgetSetsWindowSize();
    void toolbarPositions();
    void toolbarSlidesInOnFirstShowAndOutOnClick();
    void toolbarSlidesInWhenHovered();
    void notificationSlidesInAndHidesOnClick();
    void notificationHeightFollowsText();
    void toolbarAndNotificationLeaveAfterFiveSeconds();
    void resizeModeSendsAtOnce();
    void resizeButton();
    void continuousResizeIsThrottled();
    void scrollModeSendsNothing();
    void noDesktopSizeChannel();
    void scaleChange();
    void fullScreen();
    void windowStateFullScreen();
    void tabGoesToTheSession();
    void overlayEventsReachTheDesktop();

private:
    void makeWindow(double zoom = 1.0);
    QRect toolbarGeometry() const;
    QRect notificationGeometry() const;

    std::unique_ptr<FakeRdpSession> session;
    std::unique_ptr<RdpMainWidget> window;
    KeyRecorder *desktop = nullptr;
    QList<SizeRequest> requests;
    QElapsedTimer clock;
};

void TestRdpMainWidget::init()
{
    requests.clear();
    clock.start();
}

void TestRdpMainWidget::cleanup()
{
    window.reset();
    session.reset();
    desktop = nullptr;
}

void TestRdpMainWidget::makeWindow(double zoom)
{
    session = std::make_unique<FakeRdpSession>(zoom);
    session->setDesktopSizeChannel(true);
    window = std::make_unique<RdpMainWidget>(&session->context);
    session->context.mainWidget = window.get();
    window->setDesktopSizeSender([this](int width, int height) {
        requests.append({width, height, clock.elapsed()});
    });
    desktop = new KeyRecorder(QSize(320, 200));
    window->setDesktopWidget(desktop);
}

QRect TestRdpMainWidget::toolbarGeometry() const
{
    return window->findChild<RdpToolbar *>()->geometry();
}

QRect TestRdpMainWidget::notificationGeometry() const
{
    return window->findChild<RdpSharingNotification *>()->geometry();
}

void TestRdpMainWidget::form()
{
    makeWindow();
    QCOMPARE(window->objectName(), QStringLiteral("RdpMainWidget"));
    auto *scrollArea = window->findChild<QScrollArea *>(QStringLiteral("ScrollArea"));
    QVERIFY(scrollArea);
    QCOMPARE(scrollArea->frameShape(), QFrame::NoFrame);
    QCOMPARE(scrollArea->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QCOMPARE(window->desktopWidget(), desktop);

    auto *toolbar = window->findChild<RdpToolbar *>(QStringLiteral("RdpToolbar"));
    QVERIFY(toolbar);
    QCOMPARE(toolbar->size(), QSize(234, 44));
    const QStringList names = {"DisconnectButton", "ResizeButton", "FullscreenButton",
                               "OptionsButton", "SharingButton"};
    const QList<bool> checkable = {false, true, true, false, false};
    QWidget *previous = nullptr;
    for (int i = 0; i < names.size(); ++i) {
        auto *button = toolbar->findChild<QPushButton *>(names[i]);
        QVERIFY2(button, qPrintable(names[i]));
        QCOMPARE(button->isCheckable(), checkable[i]);
        QVERIFY(button->isFlat());
        QCOMPARE(button->property("myFlat").toBool(), true);
        QCOMPARE(button->iconSize(), QSize(24, 24));
        QVERIFY(!button->icon().isNull());
        QVERIFY(!button->toolTip().isEmpty());
        if (previous)
            QCOMPARE(previous->nextInFocusChain(), button);
        previous = button;
    }

    window->setResizeEnabled(false);
    window->setSharingEnabled(false);
    QVERIFY(!toolbar->findChild<QPushButton *>("ResizeButton")->isEnabled());
    QVERIFY(!toolbar->findChild<QPushButton *>("SharingButton")->isEnabled());
}

void TestRdpMainWidget::desktopWidgetSetsWindowSize()
{
    session = std::make_unique<FakeRdpSession>();
    window = std::make_unique<RdpMainWidget>(&session->context);
    QCOMPARE(window->size(), QSize(400, 300));
    desktop = new KeyRecorder(QSize(640, 480));
    window->setDesktopWidget(desktop);
    QCOMPARE(window->size(), QSize(640, 480));
    // The window may be made smaller again.
    QTest::qWait(0);
    QVERIFY(window->minimumSizeHint().width() < 640);
}

void TestRdpMainWidget::toolbarPositions()
{
    makeWindow();
    window->resize(400, 300);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(500, 300);
    QTRY_COMPARE(window->width(), 500);

    // Centred; parked with its lowest three rows in the window, shown one pixel below the top.
    QCOMPARE(window->toolbarParkedGeometry(), QRect(133, -41, 234, 44));
    QCOMPARE(window->toolbarShownGeometry(), QRect(133, 1, 234, 44));
    QCOMPARE(toolbarGeometry(), window->toolbarParkedGeometry());

    const int height = notificationGeometry().height();
    QCOMPARE(window->notificationHiddenGeometry(), QRect(199, -height, 300, height));
    QCOMPARE(window->notificationShownGeometry(), QRect(199, 1, 300, height));
    QCOMPARE(notificationGeometry(), window->notificationHiddenGeometry());
}

void TestRdpMainWidget::toolbarSlidesInOnFirstShowAndOutOnClick()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarShownGeometry(), 2000);

    // A click into the desktop sends the toolbar back at once.
    QTest::mouseClick(desktop, Qt::LeftButton, {}, QPoint(50, 50));
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarParkedGeometry(), 2000);

    // A second show of the same window does not bring it back.
    window->hide();
    window->show();
    QTest::qWait(250);
    QCOMPARE(toolbarGeometry(), window->toolbarParkedGeometry());
}

void TestRdpMainWidget::toolbarSlidesInWhenHovered()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->findChild<QPushButton *>("DisconnectButton")->click(); // no instance: nothing
    QTest::qWait(250);
    auto *toolbar = window->findChild<RdpToolbar *>();
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarShownGeometry(), 2000);
    QTest::mouseClick(desktop, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarParkedGeometry(), 2000);
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(toolbar, &enter);
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarShownGeometry(), 2000);

    // Options with no options dialog still sends the toolbar back.
    toolbar->findChild<QPushButton *>("OptionsButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarParkedGeometry(), 2000);

    // Any resize parks it at once.
    QApplication::sendEvent(toolbar, &enter);
    QTest::qWait(50);
    const int width = window->width() + 10;
    window->resize(width, window->height());
    QTRY_COMPARE(window->width(), width);
    QCOMPARE(toolbarGeometry(), window->toolbarParkedGeometry());
}

void TestRdpMainWidget::notificationSlidesInAndHidesOnClick()
{
    makeWindow();
    window->showSharingNotification(QStringLiteral("Ann has joined the session."));
    QCOMPARE(window->findChild<RdpSharingNotification *>()->text(),
             QStringLiteral("Ann has joined the session."));
    QTRY_COMPARE_WITH_TIMEOUT(notificationGeometry(), window->notificationShownGeometry(), 2000);

    // Without a sharing dialog a click only hides it, at once.
    QTest::mouseClick(window->findChild<RdpSharingNotification *>(), Qt::LeftButton);
    QCOMPARE(notificationGeometry(), window->notificationHiddenGeometry());
}

void TestRdpMainWidget::notificationHeightFollowsText()
{
    RdpSharingNotification notification;
    QCOMPARE(notification.size(), QSize(300, 25));
    notification.setText(QStringLiteral("Ann has joined the session."));
    const int oneLine = notification.height();
    QCOMPARE(notification.width(), 300);
    notification.setText(QStringLiteral("Ann has joined the session.\nBob has left the session.\n"
                                        "Cid now has control of the session."));
    QVERIFY(notification.height() > oneLine);
    QStringList many;
    for (int i = 0; i < 100; ++i)
        many << QStringLiteral("Viewer %1 has joined the session.").arg(i);
    notification.setText(many.join('\n'));
    QCOMPARE(notification.height(), 300);
}

// Both wait five seconds, so both are checked in the same wait.
void TestRdpMainWidget::toolbarAndNotificationLeaveAfterFiveSeconds()
{
    makeWindow();
    auto *toolbar = window->findChild<RdpToolbar *>();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(toolbar, &enter);
    window->showSharingNotification(QStringLiteral("Ann has joined the session."));
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarShownGeometry(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(notificationGeometry(), window->notificationShownGeometry(), 2000);

    // The mouse leaves the toolbar: five seconds later it slides out; the notification goes
    // five seconds after it arrived.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(toolbar, &leave);
    QTest::qWait(4500);
    QCOMPARE(toolbarGeometry(), window->toolbarShownGeometry());
    QCOMPARE(notificationGeometry(), window->notificationShownGeometry());
    QTRY_COMPARE_WITH_TIMEOUT(toolbarGeometry(), window->toolbarParkedGeometry(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(notificationGeometry(), window->notificationHiddenGeometry(), 2000);
}

void TestRdpMainWidget::resizeModeSendsAtOnce()
{
    makeWindow(2.0);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(400, 300);
    QTRY_COMPARE(window->size(), QSize(400, 300));
    QVERIFY(requests.isEmpty());
    window->setResizeMode(true);
    QVERIFY(window->resizeMode());
    // Zoom 2: the 400 × 300 window asks for half as many remote pixels.
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].width, 200);
    QCOMPARE(requests[0].height, 150);
    QCOMPARE(window->lastSentDesktopSize(), QSize(200, 150));

    // Switching it on again within 500 ms sends nothing, nor does the timer with the same size.
    window->setResizeMode(false);
    window->setResizeMode(true);
    QTest::qWait(600);
    QCOMPARE(requests.size(), 1);
}

void TestRdpMainWidget::resizeButton()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(420, 310);
    QTRY_COMPARE(window->size(), QSize(420, 310));
    auto *button = window->findChild<QPushButton *>("ResizeButton");
    button->click();
    QVERIFY(window->resizeMode());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(QSize(requests[0].width, requests[0].height), QSize(420, 310));
    button->click();
    QVERIFY(!window->resizeMode());
}

void TestRdpMainWidget::continuousResizeIsThrottled()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(400, 300);
    QTest::qWait(20);
    window->setResizeMode(true);
    QTest::qWait(600); // let the first request's timer run out
    requests.clear();
    clock.restart();

    // A resize lasting longer than 500 ms: one request at its start, none while the timer
    // runs, one when it fires with the size of that moment.
    for (int step = 1; step <= 5; ++step) {
        window->resize(400 + 10 * step, 300);
        QTRY_COMPARE(window->width(), 400 + 10 * step);
        QTest::qWait(60);
    }
    if (clock.elapsed() > 450)
        QSKIP("the machine is too busy for this timing");
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].width, 410);
    QTRY_COMPARE(requests.size(), 2);
    // The timer is coarse: it may fire up to 5 % early.
    QVERIFY(requests[1].at - requests[0].at >= 475);
    QCOMPARE(requests[1].width, 450);
    QCOMPARE(requests[1].height, 300);

    // The first resize after the timer has fired sends at once again, but never the same size
    // twice in a row.
    QTest::qWait(600);
    const int before = requests.size();
    window->resize(480, 300);
    QTRY_COMPARE(window->width(), 480);
    QCOMPARE(requests.size(), before + 1);
    QCOMPARE(requests.last().width, 480);
    for (int i = 1; i < requests.size(); ++i)
        QVERIFY(requests[i].width != requests[i - 1].width
                || requests[i].height != requests[i - 1].height);
}

void TestRdpMainWidget::scrollModeSendsNothing()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(450, 320);
    QTRY_COMPARE(window->width(), 450);
    QTest::qWait(20);
    QVERIFY(requests.isEmpty());
    QCOMPARE(window->lastSentDesktopSize(), QSize(-1, -1));
}

void TestRdpMainWidget::noDesktopSizeChannel()
{
    makeWindow();
    session->setDesktopSizeChannel(false);
    window->setResizeEnabled(false);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->resize(400, 300);
    QTRY_COMPARE(window->size(), QSize(400, 300));
    window->setResizeMode(true);
    QVERIFY(requests.isEmpty());
    QCOMPARE(window->lastSentDesktopSize(), QSize(400, 300));
}

void TestRdpMainWidget::scaleChange()
{
    makeWindow();
    rdpSettings *settings = freerdp_settings_new(0);
    QVERIFY(settings);
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopWidth, 1024);
    freerdp_settings_set_uint32(settings, FreeRDP_DesktopHeight, 768);
    session->context.common.context.settings = settings;

    session->setZoom(2.0);
    window->handleScaleChanged();
    QCOMPARE(desktop->size(), QSize(2048, 1536));
    session->setZoom(0.5);
    window->handleScaleChanged();
    QCOMPARE(desktop->size(), QSize(512, 384));

    session->context.common.context.settings = nullptr;
    freerdp_settings_free(settings);
}

void TestRdpMainWidget::fullScreen()
{
    makeWindow();
    window->setGeometry(40, 50, 400, 300);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect normal = window->geometry();
    auto *button = window->findChild<QPushButton *>("FullscreenButton");

    window->exitFullScreen(); // not in fullscreen: nothing changes
    QCOMPARE(window->geometry(), normal);

    window->enterFullScreen();
    QTRY_COMPARE(window->geometry(), virtualDesktopRect());
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(button->isChecked());
    QVERIFY(!(window->windowState() & Qt::WindowFullScreen));
    window->enterFullScreen(); // twice: the first saved geometry stays
    QCOMPARE(toolbarGeometry(), window->toolbarParkedGeometry());

    window->exitFullScreen();
    QTRY_COMPARE(window->geometry(), normal);
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
    QVERIFY(!button->isChecked());

    // The button does the same.
    button->click();
    QTRY_COMPARE(window->geometry(), virtualDesktopRect());
    button->click();
    QTRY_COMPARE(window->geometry(), normal);
}

void TestRdpMainWidget::windowStateFullScreen()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *button = window->findChild<QPushButton *>("FullscreenButton");

    window->showFullScreen();
    QTRY_VERIFY(button->isChecked());
    window->showNormal();
    QTRY_VERIFY(!button->isChecked());

    // Leaving a maximised state does not touch the button.
    button->setChecked(true);
    window->showMaximized();
    QTRY_VERIFY(window->windowState() & Qt::WindowMaximized);
    window->showNormal();
    QTRY_VERIFY(!(window->windowState() & Qt::WindowMaximized));
    QVERIFY(button->isChecked());
}

void TestRdpMainWidget::tabGoesToTheSession()
{
    makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    desktop->setFocus();
    QTest::keyClick(desktop, Qt::Key_Tab);
    QTest::keyClick(desktop, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(desktop->keys, (QList<int>{Qt::Key_Tab, Qt::Key_Backtab}));
}

void TestRdpMainWidget::overlayEventsReachTheDesktop()
{
    session = std::make_unique<FakeRdpSession>();
    session->setFramebuffer(64, 48);
    window = std::make_unique<RdpMainWidget>(&session->context);
    auto *desktopWidget = new RdpDesktopWidget(&session->context);
    window->setDesktopWidget(desktopWidget);
    window->handleOverlayMouseEvent(QPoint(3, 4), 0);
    QCOMPARE(desktopWidget->overlayMousePosition(), QPoint(3, 4));
    window->handleOverlayMouseEvent(QPoint(-1, -1), 0);
    QCOMPARE(desktopWidget->overlayMousePosition(), QPoint(-1, -1));
}

QTEST_MAIN(TestRdpMainWidget)
#include "tst_rdpmainwidget.moc"
