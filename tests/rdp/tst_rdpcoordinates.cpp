#include "rdp/rdpcoordinates.h"

#include "support/fakerdpsession.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

class TestRdpCoordinates : public QObject
{
    Q_OBJECT

private slots:
    void localRect_data();
    void localRect();
    void remoteRect_data();
    void remoteRect();
    void points_data();
    void points();
    void desktopSizesAtEveryZoom_data();
    void desktopSizesAtEveryZoom();
    void virtualDesktop();
    void rootlessRects();
};

static QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

void TestRdpCoordinates::localRect_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QRect>("remote");
    QTest::addColumn<QRect>("local");

    QTest::newRow("zoom 1 unchanged") << 1.0 << corners(3, 4, 17, 9) << corners(3, 4, 17, 9);
    QTest::newRow("zoom 2 keeps every pixel")
        << 2.0 << corners(10, 10, 19, 19) << corners(20, 20, 39, 39);
    QTest::newRow("zoom 2 one pixel") << 2.0 << corners(5, 7, 5, 7) << corners(10, 14, 11, 15);
    QTest::newRow("zoom 0.5 even") << 0.5 << corners(10, 10, 19, 19) << corners(5, 5, 9, 9);
    QTest::newRow("zoom 0.5 odd corners")
        << 0.5 << corners(11, 13, 20, 21) << corners(5, 6, 10, 10);
    QTest::newRow("zoom 0.5 one pixel") << 0.5 << corners(7, 7, 7, 7) << corners(3, 3, 3, 3);
}

void TestRdpCoordinates::localRect()
{
    QFETCH(double, zoom);
    QFETCH(QRect, remote);
    QFETCH(QRect, local);
    QCOMPARE(toLocalRect(zoom, remote), local);
    FakeRdpSession session(zoom);
    QCOMPARE(toLocalRect(&session.context, remote), local);
}

void TestRdpCoordinates::remoteRect_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QRect>("local");
    QTest::addColumn<QRect>("remote");

    QTest::newRow("zoom 1 unchanged") << 1.0 << corners(3, 4, 17, 9) << corners(3, 4, 17, 9);
    QTest::newRow("zoom 2 back to remote")
        << 2.0 << corners(20, 20, 39, 39) << corners(10, 10, 19, 19);
    QTest::newRow("zoom 2 odd corners") << 2.0 << corners(21, 21, 40, 40)
                                        << corners(10, 10, 19, 19);
    QTest::newRow("zoom 0.5 keeps every pixel")
        << 0.5 << corners(5, 5, 9, 9) << corners(10, 10, 19, 19);
    QTest::newRow("zoom 0.5 one pixel") << 0.5 << corners(3, 3, 3, 3) << corners(6, 6, 7, 7);
}

void TestRdpCoordinates::remoteRect()
{
    QFETCH(double, zoom);
    QFETCH(QRect, local);
    QFETCH(QRect, remote);
    QCOMPARE(toRemoteRect(1.0 / zoom, local), remote);
    FakeRdpSession session(zoom);
    QCOMPARE(toRemoteRect(&session.context, local), remote);
}

void TestRdpCoordinates::points_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPoint>("local");
    QTest::addColumn<QPoint>("remote");
    QTest::addColumn<QPoint>("localAgain");

    QTest::newRow("zoom 1") << 1.0 << QPoint(101, 51) << QPoint(101, 51) << QPoint(101, 51);
    QTest::newRow("zoom 2 rounds down") << 2.0 << QPoint(101, 51) << QPoint(50, 25)
                                        << QPoint(100, 50);
    QTest::newRow("zoom 2 left of the widget") << 2.0 << QPoint(-3, -1) << QPoint(-2, -1)
                                               << QPoint(-4, -2);
    QTest::newRow("zoom 0.5") << 0.5 << QPoint(101, 51) << QPoint(202, 102) << QPoint(101, 51);
}

void TestRdpCoordinates::points()
{
    QFETCH(double, zoom);
    QFETCH(QPoint, local);
    QFETCH(QPoint, remote);
    QFETCH(QPoint, localAgain);
    FakeRdpSession session(zoom);
    QCOMPARE(toRemotePoint(&session.context, local), remote);
    QCOMPARE(toLocalPoint(&session.context, remote), localAgain);
}

void TestRdpCoordinates::desktopSizesAtEveryZoom_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QSize>("localSize");

    QTest::newRow("zoom 1") << 1.0 << QSize(1024, 768);
    QTest::newRow("zoom 2") << 2.0 << QSize(2048, 1536);
    QTest::newRow("zoom 0.5") << 0.5 << QSize(512, 384);
}

// The whole desktop maps to the whole widget and back, which is what the widget's size and a
// size request rely on.
void TestRdpCoordinates::desktopSizesAtEveryZoom()
{
    QFETCH(double, zoom);
    QFETCH(QSize, localSize);
    FakeRdpSession session(zoom);
    const QRect local = toLocalRect(&session.context, QRect(0, 0, 1024, 768));
    QCOMPARE(local, QRect(QPoint(0, 0), localSize));
    QCOMPARE(toRemoteRect(&session.context, local).size(), QSize(1024, 768));
}

void TestRdpCoordinates::virtualDesktop()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    QCOMPARE(virtualDesktopRect(), screen->virtualGeometry());
    QVERIFY(!virtualDesktopRect().isEmpty());
}

void TestRdpCoordinates::rootlessRects()
{
    FakeRdpSession session(2.0);
    const QRect desktop = virtualDesktopRect();
    const QPoint origin = desktop.topLeft();
    QCOMPARE(remoteDesktopRect(&session.context),
             toRemoteRect(0.5, desktop).translated(-origin));
    QCOMPARE(remoteDesktopRect(&session.context).size(), desktop.size() / 2);
    QCOMPARE(railToLocalRect(&session.context, corners(10, 10, 19, 19)),
             corners(20, 20, 39, 39).translated(origin));
    QCOMPARE(railToRemoteRect(&session.context, corners(20, 20, 39, 39)),
             corners(10, 10, 19, 19).translated(-origin));
    QCOMPARE(railToRemotePoint(&session.context, QPoint(101, 51)), QPoint(50, 25) - origin);
}

QTEST_MAIN(TestRdpCoordinates)
#include "tst_rdpcoordinates.moc"
