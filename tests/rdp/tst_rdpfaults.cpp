#include "rdp/rdpdesktopwidget.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpkeyboard.h"
#include "rdp/rdppointer.h"
#include "support/fakerdpsession.h"
#include "support/privatexserver.h"
#include "windows/rdpmainwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <freerdp/graphics.h>

#include <cstdio>

namespace {
PrivateXServer *xserver = nullptr;
}

class TestRdpFaults : public QObject
{
    Q_OBJECT

private slots:
    void silentPeerEndsWith131_data();
    void silentPeerEndsWith131();
    void pointerShapeWhileConnecting();
    void lockStateWithoutNewConnections();
};

// A peer that accepts and never says a word: the connect step ends as failed (131) once its
// time is up, whether the peer is the server itself or the link's forward in front of it.
void TestRdpFaults::silentPeerEndsWith131_data()
{
    QTest::addColumn<bool>("tunnel");
    QTest::newRow("server") << false;
    QTest::newRow("forward") << true;
}

void TestRdpFaults::silentPeerEndsWith131()
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

// The server sets its pointer shape while the connection is being made, on the worker thread
// and before there is a desktop widget: the widget starts with that shape.
void TestRdpFaults::pointerShapeWhileConnecting()
{
    FakeRdpSession session;
    session.setFramebuffer(64, 64);
    rdpContext *context = session.context.rdp();
    rdpGraphics *graphics = graphics_new(context);
    QVERIFY(graphics);
    context->graphics = graphics;
    registerRdpPointer(graphics);

    quint32 colours[16 * 16];
    std::fill(std::begin(colours), std::end(colours), 0xFF2040A0u);
    quint8 andMask[16 * 2] = {};
    rdpPointer *pointer = Pointer_Alloc(context);
    QVERIFY(pointer);
    pointer->xPos = 3;
    pointer->yPos = 5;
    pointer->width = 16;
    pointer->height = 16;
    pointer->xorBpp = 32;
    pointer->xorMaskData = reinterpret_cast<BYTE *>(colours);
    pointer->lengthXorMask = sizeof colours;
    pointer->andMaskData = andMask;
    pointer->lengthAndMask = sizeof andMask;
    QThread *worker = QThread::create([&] {
        pointer->New(context, pointer);
        pointer->Set(context, pointer);
    });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;

    {
        RdpMainWidget window(&session.context);
        session.context.mainWidget = &window;
        auto *widget = new RdpDesktopWidget(&session.context);
        window.setDesktopWidget(widget);
        applyLastRdpPointer(&session.context);
        QCOMPARE(widget->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(widget->cursor().hotSpot(), QPoint(3, 5));
        session.context.mainWidget = nullptr;
    }

    // A freed shape is not applied later.
    pointer->Free(context, pointer);
    free(pointer);
    QVERIFY(!session.context.lastPointer);
    context->graphics = nullptr;
    graphics_free(graphics);
}

// Focus changes ask for the lock keys' state again and again: that must not take a new
// connection to the X server each time. Once new clients cannot connect, the state is
// still known.
void TestRdpFaults::lockStateWithoutNewConnections()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xdotool");
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")}), 0);
    QTRY_COMPARE(localLockFlags(), quint32(RdpSyncCapsLock));

    const QByteArray socket = xserver->socketPath();
    QCOMPARE(std::rename(socket.constData(), (socket + ".away").constData()), 0);
    const quint32 flags = localLockFlags();
    QCOMPARE(std::rename((socket + ".away").constData(), socket.constData()), 0);
    QCOMPARE(flags, quint32(RdpSyncCapsLock));
}

int main(int argc, char *argv[])
{
    PrivateXServer server;
    server.startForApplication();
    xserver = &server;
    QApplication app(argc, argv);
    TestRdpFaults test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_rdpfaults.moc"
