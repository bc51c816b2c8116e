#include "rdp/rdpcoordinates.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsharingnotification.h"
#include "windows/rdptoolbar.h"

#include "support/fakerdpsession.h"

#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// Stands for the desktop widget.
class DesktopStandIn : public QWidget
{
public:
    QSize sizeHint() const override { return QSize(320, 200); }
};

} // namespace

class TestRdpMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void toolbarAndNotificationComeAndGo();
    void resizeRequestsAreThrottled();

private:
    void makeWindow(double zoom = 1.0);
    QRect toolbar() const { return window->findChild<RdpToolbar *>()->geometry(); }
    QRect notification() const { return window->findChild<RdpSharingNotification *>()->geometry(); }
    // The single-shot timers running with that interval.
    QList<QTimer *> timers(int interval) const
    {
        QList<QTimer *> found;
        for (QTimer *timer : window->findChildren<QTimer *>()) {
            if (timer->isActive() && timer->isSingleShot() && timer->interval() == interval)
                found << timer;
        }
        return found;
    }
    bool animating() const
    {
        const auto animations = window->findChildren<QPropertyAnimation *>();
        return std::any_of(animations.begin(), animations.end(),
                           [](QPropertyAnimation *a) { return a->state() == QAbstractAnimation::Running; });
    }

    std::unique_ptr<FakeRdpSession> session;
    std::unique_ptr<RdpMainWidget> window;
    QWidget *desktop = nullptr;
    QList<QSize> requests;
};

void TestRdpMainWidget::cleanup()
{
    window.reset();
    session.reset();
    requests.clear();
}

void TestRdpMainWidget::makeWindow(double zoom)
{
    session = std::make_unique<FakeRdpSession>(zoom);
    session->setDesktopSizeChannel(true);
    window = std::make_unique<RdpMainWidget>(&session->context);
    session->context.mainWidget = window.get();
    window->setDesktopSizeSender([this](int width, int height) { requests << QSize(width, height); });
    desktop = new DesktopStandIn;
    window->setDesktopWidget(desktop);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestRdpMainWidget::toolbarAndNotificationComeAndGo()
{
    makeWindow();
    // The toolbar slides in on the first show; a click into the desktop sends it back.
    QTRY_COMPARE(toolbar(), window->toolbarShownGeometry());
    QTest::mouseClick(desktop, Qt::LeftButton, {}, QPoint(50, 50));
    QTRY_COMPARE(toolbar(), window->toolbarParkedGeometry());
    QTRY_VERIFY(!animating());
    // A second show of the same window does not bring it back.
    window->hide();
    window->show();
    QCoreApplication::processEvents();
    QVERIFY(!animating());
    QCOMPARE(toolbar(), window->toolbarParkedGeometry());

    // Hovered, it comes in; the mouse gone, it leaves five seconds later, and a notification
    // five seconds after it came.
    auto *bar = window->findChild<RdpToolbar *>();
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    QApplication::sendEvent(bar, &enter);
    window->showSharingNotification("Ann has joined the session.");
    QTRY_COMPARE(toolbar(), window->toolbarShownGeometry());
    QTRY_COMPARE(notification(), window->notificationShownGeometry());
    QApplication::sendEvent(bar, &leave);
    QCOMPARE(timers(5000).size(), 2);
    for (QTimer *timer : timers(5000))
        timer->start(0); // five seconds have passed
    QTRY_COMPARE(toolbar(), window->toolbarParkedGeometry());
    QTRY_COMPARE(notification(), window->notificationHiddenGeometry());

    // Without an options dialog the button still sends the toolbar back; any resize parks it
    // at once; without a sharing dialog a click on the notification only hides it.
    QApplication::sendEvent(bar, &enter);
    QTRY_COMPARE(toolbar(), window->toolbarShownGeometry());
    bar->findChild<QPushButton *>("OptionsButton")->click();
    QTRY_COMPARE(toolbar(), window->toolbarParkedGeometry());
    QApplication::sendEvent(bar, &enter);
    window->resize(window->width() + 10, window->height());
    QTRY_VERIFY(!animating());
    QCOMPARE(toolbar(), window->toolbarParkedGeometry());
    window->showSharingNotification("Bob has left the session.");
    QTest::mouseClick(window->findChild<RdpSharingNotification *>(), Qt::LeftButton);
    QCOMPARE(notification(), window->notificationHiddenGeometry());
}

// In resize mode the window asks for its size in remote pixels at once, then at most once
// per timer run, with the size of that moment, and never twice the same size in a row.
void TestRdpMainWidget::resizeRequestsAreThrottled()
{
    makeWindow(2.0);
    window->resize(400, 300);
    QTRY_COMPARE(window->size(), QSize(400, 300));
    QVERIFY(requests.isEmpty());
    window->findChild<QPushButton *>("ResizeButton")->click();
    QVERIFY(window->resizeMode());
    QCOMPARE(requests, QList<QSize>{QSize(200, 150)});
    QCOMPARE(timers(500).size(), 1);
    QTimer *throttle = timers(500).first();
    int fired = 0;
    connect(throttle, &QTimer::timeout, this, [&fired] { ++fired; });
    for (int width : {410, 420, 450}) {
        window->resize(width, 300);
        QTRY_COMPARE(window->width(), width);
    }
    QTRY_VERIFY(!throttle->isActive());
    QCOMPARE(requests.last(), QSize(225, 150));
    QVERIFY2(requests.size() <= 1 + fired, qPrintable(QString::number(requests.size())));
    // After the timer has run out, the next resize is sent at once again.
    window->resize(480, 300);
    QTRY_COMPARE(window->width(), 480);
    QCOMPARE(requests.last(), QSize(240, 150));
    window->setResizeMode(false);
    window->setResizeMode(true);
    QTRY_VERIFY(!throttle->isActive());
    for (int i = 1; i < requests.size(); ++i)
        QVERIFY(requests[i] != requests[i - 1]);
}

QTEST_MAIN(TestRdpMainWidget)
#include "tst_rdpmainwidget.moc"
