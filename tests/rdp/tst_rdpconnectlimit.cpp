#include "rdp/rdpinstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A peer that accepts and never says a word: the connect step ends as failed (131) once its
// time is up, whether the peer is the server itself or the link's forward in front of it.
class TestRdpConnectLimit : public QObject
{
    Q_OBJECT

private slots:
    void silentPeerEndsWith131_data()
    {
        QTest::addColumn<bool>("tunnel");
        QTest::newRow("server") << false;
        QTest::newRow("forward") << true;
    }

    void silentPeerEndsWith131()
    {
        QFETCH(bool, tunnel);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        RdpInstance rdp;
        rdp.setConnectTimeout(1500);
        QSignalSpy finished(&rdp, &RdpInstance::finished);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), tunnel ? 3389 : silent.serverPort(),
                                     QStringLiteral("tester"), QString(), tunnel ? silent.serverPort() : 0,
                                     QStringLiteral("800x600"), QString(), !tunnel, QVariantMap()));
        QVERIFY(silent.waitForNewConnection(5000));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(rdp.exitCode(), 131);
        QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));
        // The socket was let go of: the peer sees the end.
        QTcpSocket *peer = silent.nextPendingConnection();
        QVERIFY(peer);
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_MAIN(TestRdpConnectLimit)
#include "tst_rdpconnectlimit.moc"
