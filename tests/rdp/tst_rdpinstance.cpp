#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "support/shadowserverfixture.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpsharingnotification.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "channels/oxshare/oxshare_main.h"

#include <QClipboard>
#include <QPushButton>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <freerdp/channels/cliprdr.h>
#include <freerdp/client/rail.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/gdi/region.h>
#include <freerdp/rail.h>


namespace {

// A SOCKS5 proxy (no authentication, CONNECT only) like the SSH client's dynamic forward.
// It records the target it was asked for and always connects to 127.0.0.1 at that port.
class Socks5Proxy : public QObject
{
public:
    bool listen()
    {
        connect(&server, &QTcpServer::newConnection, this, &Socks5Proxy::accept);
        return server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }

    QByteArray requestedHost;
    quint16 requestedPort = 0;

private:
    void accept()
    {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            client->setParent(this);
            auto *buffer = new QByteArray;
            auto *stage = new int(0);
            connect(client, &QObject::destroyed, [buffer, stage]() {
                delete buffer;
                delete stage;
            });
            connect(client, &QTcpSocket::readyRead, this,
                    [this, client, buffer, stage]() { handle(client, *buffer, *stage); });
        }
    }

    void handle(QTcpSocket *client, QByteArray &buffer, int &stage)
    {
        buffer += client->readAll();
        if (stage == 0) { // greeting: 5, n, n methods
            if (buffer.size() < 2 || buffer.size() < 2 + uchar(buffer[1]))
                return;
            buffer.remove(0, 2 + uchar(buffer[1]));
            client->write(QByteArray("\x05\x00", 2));
            stage = 1;
        }
        if (stage == 1) { // request: 5, 1, 0, 3, length, name, port
            if (buffer.size() < 5 || buffer.size() < 7 + uchar(buffer[4]))
                return;
            const int length = uchar(buffer[4]);
            requestedHost = buffer.mid(5, length);
            requestedPort = quint16((uchar(buffer[5 + length]) << 8) | uchar(buffer[6 + length]));
            buffer.remove(0, 7 + length);
            auto *target = new QTcpSocket(client);
            target->connectToHost(QHostAddress::LocalHost, requestedPort);
            if (!target->waitForConnected(5000)) {
                client->write(QByteArray("\x05\x05\x00\x01\0\0\0\0\0\0", 10));
                client->disconnectFromHost();
                return;
            }
            connect(target, &QTcpSocket::readyRead, client,
                    [client, target]() { client->write(target->readAll()); });
            connect(target, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, target, &QTcpSocket::disconnectFromHost);
            client->write(QByteArray("\x05\x00\x00\x01\0\0\0\0\0\0", 10));
            stage = 2;
            relayTarget = target;
        }
        if (stage == 2 && !buffer.isEmpty() && relayTarget) {
            relayTarget->write(buffer);
            buffer.clear();
        }
    }

    QTcpServer server;
    QPointer<QTcpSocket> relayTarget;
};

} // namespace

namespace {

QList<UINT32> acknowledgedFrames;
BOOL recordFrameAcknowledge(rdpContext *, UINT32 frameId)
{
    acknowledgedFrames << frameId;
    return TRUE;
}

RAIL_SYSPARAM_ORDER sentSystemParam;
int sentSystemParams = 0;
UINT recordClientSystemParam(RailClientContext *, const RAIL_SYSPARAM_ORDER *order)
{
    sentSystemParam = *order;
    ++sentSystemParams;
    return CHANNEL_RC_OK;
}

} // namespace

// A connection against FreeRDP's shadow server on a private X display, without SSH.
class TestRdpInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void connectsStaysUpAndQuitsWithZero();
    void rootlessWithoutServerSupportShowsDesktop();
    void framesAreShownWholeAndAcknowledged();
    void tunnelledThroughSocksProxy();
    void directConnectionOffersTls();
    void refusedPortEndsWith131();
    void quitWhileConnectingEndsPromptly();
    void quitBeforeConnectResultIsHandled();
    void serverGoingAwayEndsTheConnection(); // last: it stops the server

private:
    // Starts a connection to the shadow server and waits until it is up or has ended;
    // true when it is up.
    bool connectAndWait(RdpInstance &rdp, const QString &mode, quint16 tunnelPort = 0,
                        bool direct = false,
                        const QString &host = QStringLiteral("127.0.0.1"));

    ShadowServerFixture server;
    quint16 port = 0;
};

bool TestRdpInstance::connectAndWait(RdpInstance &rdp, const QString &mode, quint16 tunnelPort,
                                     bool direct, const QString &host)
{
    // Both signals come from queued calls, never from inside connectToSession.
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    if (!rdp.connectToSession(host, port, QStringLiteral("tester"), QString(), tunnelPort, mode,
                              QStringLiteral("Shadow"), direct, QVariantMap()))
        return false;
    if (!QTest::qWaitFor([&]() { return !connectedSpy.isEmpty() || !finishedSpy.isEmpty(); },
                         20000))
        return false;
    return connectedSpy.count() == 1 && rdp.isConnected();
}

void TestRdpInstance::initTestCase()
{
    if (!ShadowServerFixture::isAvailable())
        QSKIP("Xvfb and freerdp-shadow-cli are needed");
    QString why;
    QVERIFY2(server.start(QSize(1024, 768), &why), qPrintable(why));
    port = server.port();
}

void TestRdpInstance::cleanupTestCase()
{
    server.stop();
}

void TestRdpInstance::connectsStaysUpAndQuitsWithZero()
{
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QSignalSpy paintSpy(&rdp, &RdpInstance::regionUpdated);

    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), port, QStringLiteral("tester"),
                                 QString(), 0, QStringLiteral("800x600"),
                                 QStringLiteral("Shadow"), false, QVariantMap()));
    RdpContext *context = rdp.sessionContext();
    QVERIFY(context);
    // A second call while connecting changes nothing.
    QVERIFY(rdp.connectToSession(QStringLiteral("elsewhere"), 1, QString(), QString(), 0,
                                 QStringLiteral("rootless"), QString(), true, QVariantMap()));
    QCOMPARE(rdp.sessionContext(), context);

    QTRY_VERIFY_WITH_TIMEOUT(connectedSpy.count() == 1 || finishedSpy.count() == 1, 20000);
    QCOMPARE(finishedSpy.count(), 0);
    QVERIFY(rdp.isConnected());
    QVERIFY(context->gdi());
    QVERIFY(context->gdi()->primary_buffer);
    QCOMPARE(context->rdp()->instance->settings, context->settings());
    QCOMPARE(context->instance, &rdp);
    // The clipboard channel is up; RemoteApp is only loaded for rootless sessions.
    QTRY_VERIFY_WITH_TIMEOUT(context->cliprdrClient, 5000);
    QVERIFY(!context->railClient);
    // Our own channels of a desktop session connect too, although this server does not speak
    // them (nothing on the wire tells a client which channels a server serves).
    QVERIFY(context->oxdeskClient && context->oxshareClient && context->oxcfgClient);
    QVERIFY(!context->oxrailClient);
    QVERIFY(context->optionsDialog);

    // The shadow server paints its screen; no traffic for over a second keeps it up (each
    // wait times out, the handles are checked and the next wait goes out).
    QTRY_VERIFY_WITH_TIMEOUT(paintSpy.count() > 0, 10000);
    QTest::qWait(2500);
    QVERIFY(rdp.isConnected());
    QCOMPARE(finishedSpy.count(), 0);

    // What our own channels report reaches the window (as their callbacks will, queued).
    RdpMainWidget *window = context->mainWidget;
    QVERIFY(window);
    QWidget *desktop = window->desktopWidget();
    QVERIFY(desktop);
    const auto onChannelThread = [](const std::function<void()> &callback) {
        QThread *channelThread = QThread::create(callback);
        channelThread->start();
        QVERIFY(channelThread->wait(5000));
        delete channelThread;
    };
    // (Nothing is sent on them here: FreeRDP's server drops a client that writes to a channel
    // the server has not opened.)
    auto *resizeButton = window->findChild<QPushButton *>(QStringLiteral("ResizeButton"));
    QVERIFY(resizeButton && resizeButton->isEnabled());
    OxdeskClientContext *oxdesk = context->oxdeskClient;
    onChannelThread([oxdesk]() { oxdesk->DesktopResized(oxdesk, 640, 480); });
    QTRY_COMPARE(desktop->size(), QSize(640, 480));
    OxshareClientContext *oxshare = context->oxshareClient;
    onChannelThread([oxshare]() { oxshare->MouseEvent(oxshare, 10, 20, 0); });
    QTRY_COMPARE(desktop->property("overlayMousePosition").toPoint(), QPoint(10, 20));
    onChannelThread([oxshare]() { oxshare->ClientId(oxshare, 3); });
    QTRY_VERIFY(!resizeButton->isEnabled());
    QVERIFY(!window->resizeMode());
    const OxshareStatusEntry viewers[] = {{0, 0, "Olga", 4}, {5, 1, "Ed", 2}};
    auto *notification = window->findChild<RdpSharingNotification *>();
    QVERIFY(notification);
    const QString initialText = notification->text();
    onChannelThread([oxshare, &viewers]() { oxshare->ServerStatus(oxshare, TRUE, viewers, 1); });
    QTRY_COMPARE(rdp.sharingViewers().size(), 1);
    QVERIFY(rdp.sharingViewers().at(0).owner);
    QCOMPARE(notification->text(), initialText); // the first status is no change
    onChannelThread([oxshare, &viewers]() { oxshare->ServerStatus(oxshare, TRUE, viewers, 2); });
    QTRY_COMPARE(rdp.sharingViewers().size(), 2);
    QVERIFY(rdp.sharingViewers().at(1).controller);
    QCOMPARE(notification->text(), QStringLiteral("Ed now has control of the session.\n"
                                                  "Ed has joined the session."));

    // The clipboard channel's callbacks reach the connection as queued calls, from the
    // channel's thread as well as from any other.
    CliprdrClientContext *cliprdr = context->cliprdrClient;
    QVERIFY(cliprdr->MonitorReady && cliprdr->ServerFormatList
            && cliprdr->ServerFormatDataResponse);
    QGuiApplication::clipboard()->setText(QStringLiteral("local"));
    CLIPRDR_FORMAT format = {};
    format.formatId = 13;
    CLIPRDR_FORMAT_LIST list = {};
    list.numFormats = 1;
    list.formats = &format;
    const char16_t text[] = u"remote\n";
    CLIPRDR_FORMAT_DATA_RESPONSE response = {};
    response.dataLen = sizeof(text); // with its terminating NUL
    response.requestedFormatData = reinterpret_cast<const BYTE *>(text);
    onChannelThread([&]() {
        CLIPRDR_MONITOR_READY ready = {};
        cliprdr->MonitorReady(cliprdr, &ready);
        cliprdr->ServerFormatList(cliprdr, &list);
        cliprdr->ServerFormatDataResponse(cliprdr, &response);
    });
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("remote\n"));

    rdp.quit();
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
    QVERIFY(!rdp.isConnected());
    rdp.quit(); // a second quit does nothing
    QCOMPARE(finishedSpy.count(), 1);
}

void TestRdpInstance::rootlessWithoutServerSupportShowsDesktop()
{
    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(connectAndWait(rdp, QStringLiteral("rootless")));
    RdpContext *context = rdp.sessionContext();
    // The shadow server has no RemoteApp support, and FreeRDP turns the mode off while
    // connecting: the session is then shown in a desktop window rather than not at all.
    QVERIFY(!freerdp_settings_get_bool(context->settings(), FreeRDP_RemoteApplicationMode));
    QVERIFY(context->mainWidget);
    QVERIFY(!context->railWindows);
    QVERIFY(!context->railZOrder);
    // The RemoteApp channel was loaded all the same.
    QTRY_VERIFY_WITH_TIMEOUT(context->railClient, 5000);
    QCOMPARE(context->railClient->custom, static_cast<void *>(context));

    // The server's system parameters are answered with the whole remote desktop as work
    // area, without full-window drag and without a high-contrast scheme.
    RailClientContext *rail = context->railClient;
    QVERIFY(rail->ServerSystemParam);
    const pcRailClientSystemParam send = rail->ClientSystemParam;
    rail->ClientSystemParam = recordClientSystemParam;
    sentSystemParams = 0;
    RAIL_SYSPARAM_ORDER order = {};
    order.param = SPI_SETWORKAREA;
    order.params = 0x7F;
    order.dragFullWindows = TRUE;
    order.workArea = {5, 6, 7, 8};
    order.highContrast.colorSchemeLength = 4;
    WCHAR scheme[] = {'a', 'b', 0};
    order.highContrast.colorScheme.length = 4;
    order.highContrast.colorScheme.string = reinterpret_cast<BYTE *>(scheme);
    rail->ServerSystemParam(rail, &order);
    rail->ClientSystemParam = send;
    QCOMPARE(sentSystemParams, 1);
    QCOMPARE(sentSystemParam.params, 0x7Fu);
    QCOMPARE(sentSystemParam.workArea.left, UINT16(0));
    QCOMPARE(sentSystemParam.workArea.top, UINT16(0));
    QCOMPARE(int(sentSystemParam.workArea.right),
             int(freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopWidth)));
    QCOMPARE(int(sentSystemParam.workArea.bottom),
             int(freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopHeight)));
    QVERIFY(!sentSystemParam.dragFullWindows);
    QCOMPARE(sentSystemParam.highContrast.colorSchemeLength, 0u);
    QVERIFY(!sentSystemParam.highContrast.colorScheme.string);
    // Nothing goes out on our rootless channel, which this server would take badly.
    QTest::qWait(1000);
    QVERIFY(rdp.isConnected());
    rdp.quit();
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpInstance::framesAreShownWholeAndAcknowledged()
{
    RdpInstance rdp;
    QVERIFY(connectAndWait(rdp, QStringLiteral("800x600")));
    RdpContext *context = rdp.sessionContext();
    rdpContext *rdpCtx = context->rdp();
    rdpUpdate *update = rdpCtx->update;
    QTest::qWait(500); // let the first screen arrive

    // FreeRDP calls these on this thread while it processes the server's updates; here the
    // test plays the server between two waits.
    QSignalSpy paintSpy(&rdp, &RdpInstance::regionUpdated);
    const auto paint = [&](int x, int y, int w, int h) {
        update->BeginPaint(rdpCtx);
        gdi_InvalidateRegion(rdpCtx->gdi->primary->hdc, x, y, w, h);
        update->EndPaint(rdpCtx);
    };
    // Without a frame, each paint is shown at once.
    paint(0, 0, 10, 10);
    QCOMPARE(paintSpy.count(), 1);
    QCOMPARE(paintSpy.takeFirst().at(0).value<QRegion>(), QRegion(0, 0, 10, 10));

    acknowledgedFrames.clear();
    const pSurfaceFrameAcknowledge acknowledge = update->SurfaceFrameAcknowledge;
    update->SurfaceFrameAcknowledge = recordFrameAcknowledge;
    freerdp_settings_set_uint32(rdpCtx->settings, FreeRDP_FrameAcknowledge, 2);
    SURFACE_FRAME_MARKER marker = {};
    marker.frameAction = SURFACECMD_FRAMEACTION_BEGIN;
    marker.frameId = 41;
    update->SurfaceFrameMarker(rdpCtx, &marker);
    paint(0, 0, 10, 10);
    paint(100, 50, 20, 5);
    QCOMPARE(paintSpy.count(), 0); // collected until the frame ends
    marker.frameAction = SURFACECMD_FRAMEACTION_END;
    update->SurfaceFrameMarker(rdpCtx, &marker);
    QCOMPARE(paintSpy.count(), 1);
    QCOMPARE(paintSpy.takeFirst().at(0).value<QRegion>(),
             QRegion(0, 0, 10, 10) + QRegion(100, 50, 20, 5));
    QCOMPARE(acknowledgedFrames, QList<UINT32>{41});
    QVERIFY(context->pendingRegion->isEmpty());

    // Without frame acknowledgement the marker is not answered.
    freerdp_settings_set_uint32(rdpCtx->settings, FreeRDP_FrameAcknowledge, 0);
    marker.frameAction = SURFACECMD_FRAMEACTION_BEGIN;
    marker.frameId = 42;
    update->SurfaceFrameMarker(rdpCtx, &marker);
    marker.frameAction = SURFACECMD_FRAMEACTION_END;
    update->SurfaceFrameMarker(rdpCtx, &marker);
    QCOMPARE(acknowledgedFrames, QList<UINT32>{41});
    QCOMPARE(paintSpy.count(), 0); // an empty frame shows nothing
    update->SurfaceFrameAcknowledge = acknowledge;

    // A new desktop size keeps the picture and resizes the desktop widget.
    QSignalSpy resizeSpy(&rdp, &RdpInstance::desktopResized);
    QImage before(rdpCtx->gdi->primary_buffer, int(rdpCtx->gdi->width),
                  int(rdpCtx->gdi->height), int(rdpCtx->gdi->stride), QImage::Format_RGB32);
    const QImage corner = before.copy(0, 0, 64, 64);
    freerdp_settings_set_uint32(rdpCtx->settings, FreeRDP_DesktopWidth, 1100);
    freerdp_settings_set_uint32(rdpCtx->settings, FreeRDP_DesktopHeight, 700);
    QVERIFY(update->DesktopResize(rdpCtx));
    QCOMPARE(int(rdpCtx->gdi->width), 1100);
    QCOMPARE(int(rdpCtx->gdi->height), 700);
    QImage after(rdpCtx->gdi->primary_buffer, int(rdpCtx->gdi->width),
                 int(rdpCtx->gdi->height), int(rdpCtx->gdi->stride), QImage::Format_RGB32);
    QCOMPARE(after.copy(0, 0, 64, 64), corner);
    QCOMPARE(resizeSpy.count(), 1);
    QCOMPARE(context->mainWidget->desktopWidget()->size(), QSize(1100, 700));

    rdp.quit();
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpInstance::tunnelledThroughSocksProxy()
{
    Socks5Proxy proxy;
    QVERIFY(proxy.listen());
    RdpInstance rdp;
    QSignalSpy paintSpy(&rdp, &RdpInstance::regionUpdated);
    // The host is only for direct connections; through the tunnel the target is 127.0.0.1
    // as seen from the server.
    QVERIFY(connectAndWait(rdp, QStringLiteral("800x600"), proxy.port(), false,
                           QStringLiteral("ssh.example.invalid")));
    QCOMPARE(proxy.requestedHost, QByteArray("127.0.0.1"));
    QCOMPARE(proxy.requestedPort, port);
    QTRY_VERIFY_WITH_TIMEOUT(paintSpy.count() > 0, 10000);
    rdp.quit();
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpInstance::directConnectionOffersTls()
{
    // Direct connections offer TLS besides standard RDP security; this server picks RDP.
    RdpInstance rdp;
    QVERIFY(connectAndWait(rdp, QStringLiteral("800x600"), 41000, true));
    QVERIFY(freerdp_settings_get_bool(rdp.sessionContext()->settings(), FreeRDP_TlsSecurity));
    QCOMPARE(freerdp_settings_get_uint32(rdp.sessionContext()->settings(), FreeRDP_ProxyType),
             quint32(PROXY_TYPE_NONE));
    rdp.quit();
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpInstance::refusedPortEndsWith131()
{
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    const quint16 closed = ShadowServerFixture::freePort();
    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), closed, QStringLiteral("tester"),
                                 QString(), 0, QStringLiteral("1024x768"), QString(), false,
                                 QVariantMap()));
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 20000);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(rdp.exitCode(), 131);
    QVERIFY(!rdp.sessionContext());

    // Idle again: the same object can make a new connection.
    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), port, QStringLiteral("tester"),
                                 QString(), 0, QStringLiteral("1024x768"), QString(), false,
                                 QVariantMap()));
    QTRY_VERIFY_WITH_TIMEOUT(connectedSpy.count() == 1 || finishedSpy.count() == 2, 20000);
    QCOMPARE(connectedSpy.count(), 1);
    rdp.quit();
    QCOMPARE(finishedSpy.count(), 2);
    QCOMPARE(rdp.exitCode(), 0);
}

void TestRdpInstance::quitWhileConnectingEndsPromptly()
{
    // A server that accepts and never answers keeps freerdp_connect waiting.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    RdpInstance rdp;
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), silent.serverPort(),
                                 QStringLiteral("tester"), QString(), 0, QString(), QString(),
                                 false, QVariantMap()));
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 5000);
    QElapsedTimer timer;
    timer.start();
    rdp.quit();
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestRdpInstance::quitBeforeConnectResultIsHandled()
{
    RdpInstance rdp;
    QSignalSpy connectedSpy(&rdp, &RdpInstance::connected);
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    QVERIFY(rdp.connectToSession(QStringLiteral("127.0.0.1"), port, QStringLiteral("tester"),
                                 QString(), 0, QStringLiteral("800x600"), QString(), false,
                                 QVariantMap()));
    // No events are handled meanwhile: the connect step succeeds on the worker thread and its
    // result waits in the queue.
    QThread::msleep(3000);
    rdp.quit();
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
    // The result that was on its way changes nothing any more.
    QTest::qWait(200);
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(finishedSpy.count(), 1);
    QVERIFY(!rdp.sessionContext());
}

void TestRdpInstance::serverGoingAwayEndsTheConnection()
{
    RdpInstance rdp;
    QVERIFY(connectAndWait(rdp, QStringLiteral("640x480")));
    QSignalSpy finishedSpy(&rdp, &RdpInstance::finished);
    server.killServer();
    QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, 10000);
    // Without an error report from the server this is the same as a terminated session.
    QCOMPARE(rdp.exitCode(), 0);
    QVERIFY(!rdp.sessionContext());
    QVERIFY(!rdp.isConnected());
}

QTEST_MAIN(TestRdpInstance)
#include "tst_rdpinstance.moc"
