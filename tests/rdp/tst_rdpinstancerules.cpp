#include "rdp/rdpinstance.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

namespace {

RdpViewer viewer(quint32 id, const QString &name, bool controller = false)
{
    RdpViewer v;
    v.id = id;
    v.name = name;
    v.owner = id == 0;
    v.controller = controller;
    return v;
}

} // namespace

// Rules of a connection that need no server: the lines of the sharing notification for a
// change of the viewer list, and the monitor layout sent to the server.
class TestRdpInstanceRules : public QObject
{
    Q_OBJECT

private slots:
    void messages_data();
    void messages();
    void firstStatusShowsNothing();
    void monitorLayout_data();
    void monitorLayout();
};

void TestRdpInstanceRules::messages_data()
{
    QTest::addColumn<QList<RdpViewer>>("before");
    QTest::addColumn<QList<RdpViewer>>("after");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("controllerChanged");

    const RdpViewer owner = viewer(0, QStringLiteral("Olga"));
    QTest::newRow("joined first, then left")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"))}
        << QList<RdpViewer>{owner, viewer(7, QStringLiteral("Ada"))}
        << QStringList{QStringLiteral("Ada has joined the session."),
                       QStringLiteral("Ed has left the session.")}
        << false;
    QTest::newRow("nothing changed")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"))}
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"))} << QStringList() << false;
    QTest::newRow("control given")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"))}
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"), true)}
        << QStringList{QStringLiteral("Ed now has control of the session.")} << true;
    QTest::newRow("control taken back by the owner")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"), true)}
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"))}
        << QStringList{QStringLiteral("Olga now has control of the session.")} << true;
    QTest::newRow("controller left")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"), true)}
        << QList<RdpViewer>{owner}
        << QStringList{QStringLiteral("Olga now has control of the session."),
                       QStringLiteral("Ed has left the session.")}
        << true;
    QTest::newRow("last controller flag counts")
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"), true)}
        << QList<RdpViewer>{owner, viewer(5, QStringLiteral("Ed"), true),
                            viewer(6, QStringLiteral("Flo"), true)}
        << QStringList{QStringLiteral("Flo now has control of the session."),
                       QStringLiteral("Flo has joined the session.")}
        << true;
}

void TestRdpInstanceRules::messages()
{
    QFETCH(QList<RdpViewer>, before);
    QFETCH(QList<RdpViewer>, after);
    QFETCH(QStringList, expected);
    QFETCH(bool, controllerChanged);
    bool changed = !controllerChanged;
    QCOMPARE(RdpInstance::sharingMessages(before, after, &changed), expected);
    QCOMPARE(changed, controllerChanged);
}

void TestRdpInstanceRules::firstStatusShowsNothing()
{
    // Without a connection the statuses are only remembered.
    RdpInstance rdp;
    const QList<RdpViewer> first{viewer(0, QStringLiteral("Olga")), viewer(3, QStringLiteral("Al"))};
    QVERIFY(QMetaObject::invokeMethod(&rdp, "handleOxshareServerStatus", Qt::QueuedConnection,
                                      Q_ARG(bool, true), Q_ARG(QList<RdpViewer>, first)));
    QTRY_COMPARE(rdp.sharingViewers().size(), 2);
    QCOMPARE(rdp.sharingViewers().at(1).name, QStringLiteral("Al"));
}

void TestRdpInstanceRules::monitorLayout_data()
{
    QTest::addColumn<double>("localToRemote");
    QTest::addColumn<QRect>("expected"); // inclusive corners
    QScreen *screen = QGuiApplication::primaryScreen();
    QVERIFY(screen);
    // The offscreen platform has one screen, at 0,0.
    const QRect work = screen->availableGeometry();
    QCOMPARE(work.topLeft(), QPoint(0, 0));
    QTest::newRow("zoom 1") << 1.0 << work;
    // Remote pixels are twice as many when the session is shown at half size.
    QTest::newRow("half size") << 2.0 << QRect(QPoint(0, 0), work.size() * 2);
    QTest::newRow("double size")
        << 0.5 << QRect(QPoint(0, 0), QPoint((work.right() - 1) / 2, (work.bottom() - 1) / 2));
}

void TestRdpInstanceRules::monitorLayout()
{
    QFETCH(double, localToRemote);
    QFETCH(QRect, expected);
    RdpContext context = {};
    context.localToRemoteScale = localToRemote;
    context.remoteToLocalScale = 1.0 / localToRemote;
    QCOMPARE(QGuiApplication::screens().size(), 1);
    QCOMPARE(RdpInstance::monitorLayout(&context), QVector<QRect>{expected});
}

QTEST_MAIN(TestRdpInstanceRules)
#include "tst_rdpinstancerules.moc"
