#include "channels/oxrail/oxrail_main.h"
#include "rdp/rdprailsession.h"
#include "windows/rdprailwidget.h"

#include "support/fakerdpsession.h"

#include <QtTest>

#include <memory>

// What the session sent on the oxrail and RemoteApp channels, one line per message.
static QStringList *sentOrders = nullptr;

static UINT oxActivate(OxrailClientContext *, UINT32 id)
{
    *sentOrders << QStringLiteral("activate %1").arg(id);
    return 0;
}
static UINT oxRaise(OxrailClientContext *, UINT32 id)
{
    *sentOrders << QStringLiteral("raise %1").arg(id);
    return 0;
}
static UINT oxZOrder(OxrailClientContext *, UINT32 id, UINT32 other)
{
    *sentOrders << QStringLiteral("zorder %1 %2").arg(id).arg(other);
    return 0;
}
static UINT oxGeometry(OxrailClientContext *, UINT32 id, INT32 l, INT32 t, INT32 r, INT32 b)
{
    *sentOrders << QStringLiteral("geometry %1 %2,%3,%4,%5").arg(id).arg(l).arg(t).arg(r).arg(b);
    return 0;
}
static UINT railActivate(RailClientContext *, const RAIL_ACTIVATE_ORDER *order)
{
    *sentOrders << QStringLiteral("rail-activate %1").arg(order->windowId);
    return 0;
}
static UINT railCommand(RailClientContext *, const RAIL_SYSCOMMAND_ORDER *order)
{
    *sentOrders << QStringLiteral("command %1 %2").arg(order->windowId).arg(order->command, 0, 16);
    return 0;
}

// A rootless session without a connection: fake channels that record, orders fed directly.
struct RailSession
{
    FakeRdpSession fake;
    OxrailClientContext oxrail{nullptr, nullptr, oxActivate, oxZOrder, oxRaise, oxGeometry, nullptr};
    RailClientContext rail{};
    QStringList sent;
    std::unique_ptr<RdpRailSession> session;

    explicit RailSession(bool withOxrail = true)
    {
        sentOrders = &sent;
        rail.ClientActivate = railActivate;
        rail.ClientSystemCommand = railCommand;
        fake.context.railClient = &rail;
        fake.context.oxrailClient = withOxrail ? &oxrail : nullptr;
        session = std::make_unique<RdpRailSession>(&fake.context, QStringLiteral("Session"));
    }

    RdpRailWidget *window(quint32 id) const { return fake.context.railWindows->value(id); }

    RdpRailWidget *open(quint32 id, const QRect &remote, quint32 flags = 0, quint32 show = 5)
    {
        order(id, remote, WINDOW_ORDER_STATE_NEW | WINDOW_ORDER_FIELD_SHOW | flags, show);
        return window(id);
    }

    void order(quint32 id, const QRect &remote, quint32 flags, quint32 show = 5)
    {
        RdpRailWindowOrder o;
        o.windowId = id;
        o.fieldFlags = flags | WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE;
        o.showState = show;
        o.offsetX = remote.x();
        o.offsetY = remote.y();
        o.width = quint32(remote.width());
        o.height = quint32(remote.height());
        session->handleWindowOrder(o);
    }
};

class TestRdpRailWidget : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void geometryReports();
    void mouseMovesAreCoalesced();
    void stackingReports_data();
    void stackingReports();
    void windowCommands_data();
    void windowCommands();
};

void TestRdpRailWidget::placement_data()
{
    QTest::addColumn<QRect>("remote");
    QTest::addColumn<bool>("created");
    QTest::addColumn<QPoint>("afterRepeat"); // where a repeat of the first position leaves it

    QTest::newRow("the server's invisible window") << QRect(-1, -1, 1, 1) << false << QPoint();
    QTest::newRow("at the origin: the window manager places it") << QRect(0, 0, 200, 100) << true
                                                                 << QPoint(50, 60);
    QTest::newRow("both top corners off the screen") << QRect(-300, -50, 200, 100) << true
                                                     << QPoint(50, 60);
    QTest::newRow("on the screen: the server places it") << QRect(100, 80, 200, 100) << true
                                                         << QPoint(100, 80);
}

// The local window manager puts the window at 50,60; the server then repeats its first
// position with a new size.
void TestRdpRailWidget::placement()
{
    QFETCH(QRect, remote);
    QFETCH(bool, created);
    QFETCH(QPoint, afterRepeat);
    RailSession rail;
    RdpRailWidget *window = rail.open(7, remote);
    QCOMPARE(window != nullptr, created);
    if (!window)
        return;
    QCOMPARE(window->size(), remote.size());
    window->setGeometry(QRect(QPoint(50, 60), window->size()));
    rail.order(7, QRect(remote.topLeft(), QSize(300, 150)), 0);
    QCOMPARE(window->geometry().topLeft(), afterRepeat);
    QCOMPARE(window->size(), QSize(300, 150));
}

void TestRdpRailWidget::geometryReports()
{
    RailSession rail;
    RdpRailWidget *window = rail.open(3, QRect(100, 80, 200, 100));
    auto *timer = window->findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(timer);
    QCOMPARE(rail.sent, QStringList{"geometry 3 100,80,300,180"});
    QTRY_VERIFY(window->isActiveWindow() && !timer->isActive()); // what that sends is not looked at here
    rail.sent.clear();

    // A drag: at once, then what the timer finds, then the next move after the timer.
    const auto moveTo = [window](int x) { window->setGeometry(QRect(QPoint(x, 80), window->size())); };
    for (int x : {110, 120, 130})
        moveTo(x);
    QCOMPARE(rail.sent, QStringList{"geometry 3 110,80,310,180"});
    QTRY_COMPARE(rail.sent.size(), 2);
    QCOMPARE(rail.sent.last(), QStringLiteral("geometry 3 130,80,330,180"));
    moveTo(140);
    QCOMPARE(rail.sent.last(), QStringLiteral("geometry 3 140,80,340,180"));
    QTRY_VERIFY(!timer->isActive()); // it fired again, with nothing new
    QCOMPARE(rail.sent.size(), 3);

    // The server moves the window: nothing comes back, not even later.
    rail.order(3, QRect(400, 300, 200, 100), 0);
    QCOMPARE(window->geometry().topLeft(), QPoint(400, 300));
    QVERIFY(!timer->isActive());
    QCoreApplication::processEvents();
    QCOMPARE(rail.sent.size(), 3);
}

// Remote positions are screen positions; the first move goes at once, the last one on the next
// pass of the event loop.
void TestRdpRailWidget::mouseMovesAreCoalesced()
{
    RailSession rail;
    rail.fake.setZoom(2.0);
    RdpRailWidget *window = rail.open(4, QRect(50, 40, 100, 100));
    QTRY_VERIFY(window->hasFocus()); // what the focus sends is not looked at here
    window->setInputSender(rail.fake.recorder());
    for (const QPoint &global : {QPoint(120, 100), QPoint(130, 110), QPoint(141, 121)}) {
        QMouseEvent event(QEvent::MouseMove, window->mapFromGlobal(global), global, Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window, &event);
    }
    QCOMPARE(rail.fake.sent, QList<SentInput>{mouseInput(0x0800, 60, 50)});
    QTRY_COMPARE(rail.fake.sent, (QList<SentInput>{mouseInput(0x0800, 60, 50), mouseInput(0x0800, 70, 60)}));
}

void TestRdpRailWidget::stackingReports_data()
{
    // Windows by index into the session's windows 1, 2 and 3; -1 is a window of another program.
    QTest::addColumn<QVector<int>>("before"); // bottom to top
    QTest::addColumn<QVector<int>>("after");
    QTest::addColumn<bool>("oxrail");
    QTest::addColumn<bool>("ownRestack");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("raised to the top") << QVector<int>{0, 1, 2} << QVector<int>{1, 2, 0} << true
                                       << false << QStringList{"raise 1"};
    QTest::newRow("raised under another of ours") << QVector<int>{0, 1, 2} << QVector<int>{1, 0, 2}
                                                  << true << false << QStringList{"zorder 1 3"};
    QTest::newRow("raised under another program's window") << QVector<int>{0, -1, 1}
                                                            << QVector<int>{1, 0, -1} << true
                                                            << false << QStringList{"raise 1"};
    QTest::newRow("another program's window raised") << QVector<int>{-1, 0} << QVector<int>{0, -1}
                                                     << true << false << QStringList();
    QTest::newRow("without oxrail: raise by activation")
        << QVector<int>{0, 1} << QVector<int>{1, 0} << false << false
        << QStringList{"rail-activate 1"};
    QTest::newRow("without oxrail: no stacking under ours")
        << QVector<int>{0, 1, 2} << QVector<int>{1, 0, 2} << false << false << QStringList();
    QTest::newRow("our own restacking") << QVector<int>{0, 1, 2} << QVector<int>{1, 2, 0} << true
                                        << true << QStringList();
}

void TestRdpRailWidget::stackingReports()
{
    QFETCH(QVector<int>, before);
    QFETCH(QVector<int>, after);
    QFETCH(bool, oxrail);
    QFETCH(bool, ownRestack);
    QFETCH(QStringList, expected);
    RailSession rail(oxrail);
    QVector<quint32> ids;
    for (quint32 id : {1u, 2u, 3u})
        ids << quint32(rail.open(id, QRect(100 * id, 100, 80, 80))->winId());
    const auto native = [&ids](const QVector<int> &order) {
        QVector<quint32> stacking;
        for (int i : order)
            stacking << (i < 0 ? 0xFFFFFFu : ids.at(i));
        return stacking;
    };
    rail.fake.context.railZOrderBusy = ownRestack ? 1 : 0;
    rail.sent.clear();
    rail.session->handleStackingChange(native(before), native(after));
    QCOMPARE(rail.sent, expected);
}

void TestRdpRailWidget::windowCommands_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("close: the window stays until the server deletes it")
        << "close" << QStringList{"command 9 f060"};
    QTest::newRow("minimise") << "minimise" << QStringList{"command 9 f020"};
    QTest::newRow("maximise") << "maximise" << QStringList{"command 9 f030"};
    QTest::newRow("restore") << "restore" << QStringList{"command 9 f030", "command 9 f120"};
    QTest::newRow("the server maximises: no echo") << "server maximises" << QStringList();
    QTest::newRow("the server activates: no echo") << "server activates" << QStringList();
    QTest::newRow("the user activates") << "activate" << QStringList{"activate 9"};
    QTest::newRow("late reports of the state before the user's change")
        << "late reports" << QStringList{"activate 9", "command 9 f030"};
}

void TestRdpRailWidget::windowCommands()
{
    QFETCH(QString, action);
    QFETCH(QStringList, expected);
    RailSession rail;
    RdpRailWidget *other = rail.open(8, QRect(400, 100, 100, 100));
    RdpRailWidget *window = rail.open(9, QRect(100, 100, 100, 100));
    QTRY_VERIFY(window->isActiveWindow());
    QApplication::setActiveWindow(other);
    rail.sent.clear();
    if (action == "close") {
        window->close();
        QVERIFY(window->isVisible());
    } else if (action == "minimise") {
        window->showMinimized();
    } else if (action == "maximise" || action == "restore") {
        window->showMaximized();
        if (action == "restore")
            window->showNormal();
    } else if (action == "server maximises") {
        rail.order(9, QRect(100, 100, 100, 100), WINDOW_ORDER_FIELD_SHOW, 3);
        QVERIFY(window->isMaximized());
    } else if (action == "server activates") {
        RdpRailDesktopOrder order;
        order.fieldFlags = WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND;
        order.activeWindowId = 8; // the server has done what the user asked
        rail.session->handleMonitoredDesktop(order);
        order.activeWindowId = 9;
        rail.session->handleMonitoredDesktop(order);
        QTRY_VERIFY(window->isActiveWindow());
    } else if (action == "late reports") {
        // The server's answers to earlier changes cross the user's: they do not undo them.
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        RdpRailDesktopOrder order;
        order.fieldFlags = WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND;
        order.activeWindowId = 8;
        rail.session->handleMonitoredDesktop(order);
        QTest::qWait(400);
        QVERIFY(window->isActiveWindow());
        window->showMaximized();
        rail.order(9, QRect(100, 100, 100, 100), WINDOW_ORDER_FIELD_SHOW, 5);
        QVERIFY(window->isMaximized());
    } else if (action == "activate") {
        QApplication::setActiveWindow(window);
        QTRY_VERIFY(window->isActiveWindow());
    }
    QCOMPARE(rail.sent, expected);
}

QTEST_MAIN(TestRdpRailWidget)
#include "tst_rdprailwidget.moc"
