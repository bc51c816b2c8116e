#pragma once

#include <QList>
#include <QObject>
#include <QRegion>
#include <QRect>
#include <QSize>
#include <QVariant>
#include <QVariantMap>
#include <QVector>

#include "rdp/rdpcontext.h"
#include "rdp/rdpviewer.h"

#include <freerdp/event.h>

#include <atomic>
#include <memory>

class QScreen;
class QTimer;
class RdpCertificatePrompt;
class RdpClipboardBridge;
class RdpConnectSockets;
class RdpWorkerThread;

// One remote-display connection to a session. It owns FreeRDP's client context, configures
// it, loads the channel clients and connects on its worker thread; then it keeps the
// connection alive: the worker thread only waits on FreeRDP's event handles, and every
// result is handled here, on the GUI thread. When the connection ends it tears everything
// down and emits finished(); exitCode() tells why.
class RdpInstance : public QObject
{
    Q_OBJECT

public:
    explicit RdpInstance(QObject *parent = nullptr);
    ~RdpInstance() override;

    // Starts connecting; always true (a second call on a running instance changes nothing).
    // mode: "rootless", "fullscreen" or a geometry "WxH". tunnelPort: the local SOCKS port
    // of the SSH link, 0 for none. direct: straight to host:port with TLS.
    bool connectToSession(const QString &host, quint16 port, const QString &user,
                          const QString &password, quint16 tunnelPort, const QString &mode,
                          const QString &title, bool direct, const QVariantMap &params);

    // The longest the connect step may take; past it the connection ends as failed (131).
    // For connections started later.
    void setConnectTimeout(int milliseconds) { connectTimeoutMs = milliseconds; }

    int exitCode() const { return m_exitCode; }
    bool isConnected() const { return m_connected; }
    QVariantMap parameters() const { return params; }

    // The session context shared by the session's windows; null while idle.
    RdpContext *sessionContext() const { return context; }

    // The windows of a rootless session (none in desktop mode or while idle).
    QList<RdpRailWidget *> railWindows() const;

    // The last viewer list of the sharing channel.
    QList<RdpViewer> sharingViewers() const { return viewers; }

    // The notification lines for a change of the viewer list: a new controller, then who
    // joined, then who left. controllerChanged tells whether the controller changed.
    // The local monitor layout for the server: the work area of each screen of the virtual
    // desktop in screen order (of the primary screen alone when it stands alone), in remote
    // coordinates relative to the virtual desktop's top-left corner.
    static QVector<QRect> monitorLayout(const RdpContext *context);

    static QStringList sharingMessages(const QList<RdpViewer> &before,
                                       const QList<RdpViewer> &after, bool *controllerChanged);

signals:
    void connected();
    void finished();

    // For observers, after the session's windows were updated: a changed part of the remote
    // framebuffer (remote coordinates; once per frame when the server sends frame markers),
    // and a new remote desktop size.
    void regionUpdated(const QRegion &remoteRegion);
    void desktopResized(const QSize &size);

public slots:
    void quit();

private slots:
    void connectFinished(const QVariant &result);
    void waitFinished(const QVariant &result);

    void handleCliprdrMonitorReady();
    void handleCliprdrServerFormatList(const QList<ulong> &formatIds);
    void handleCliprdrServerFormatDataRequest(ulong formatId);
    void handleCliprdrServerFormatDataResponse(const QByteArray &data);
    // Local clipboard changes go to the bridge directly (RdpClipboardBridge::sendDataFormats).

    // Our own channels.
    void handleOxdeskMinMaxInfo(const QSize &minimum, const QSize &maximum);
    void handleOxdeskDesktopResized(const QSize &size);
    void handleOxshareClientId(ulong id);
    void handleOxshareServerStatus(bool active, const QList<RdpViewer> &newViewers);
    void handleOxshareDisconnectInfo(ulong info);
    void handleOxshareMouseEvent(const QPoint &pos, ulong flags);
    void handleOxcfgOptionsUpdatedNotify(const QString &json);
    void handleOxcfgSetOptionsResponse(const QString &json);

    void sendMonitorLayout();
    // A rootless window lost the focus: if no window of the session has it now, the server
    // learns that no keys are held.
    void checkFocus();

private:
    void teardown(quint32 reason);
    void createDesktopWindow();
    void destroyWindows();
    void resizeDesktop(const QSize &size);
    // The Resize button is enabled once the server has spoken on oxdesk, unless it made us a
    // viewer of a shared session.
    void updateResizeButton();
    void watchScreen(QScreen *screen);
    void postWait();
    void showRegion(const QRegion &remoteRegion);

    // FreeRDP's callbacks.
    static BOOL clientNew(freerdp *instance, rdpContext *context);
    static void clientFree(freerdp *instance, rdpContext *context);
    static BOOL preConnect(freerdp *instance);
    static BOOL postConnect(freerdp *instance);
    static void onChannelConnected(void *context, ChannelConnectedEventArgs *e);
    static void onChannelDisconnected(void *context, ChannelDisconnectedEventArgs *e);
    static BOOL onBeginPaint(rdpContext *context);
    static BOOL onEndPaint(rdpContext *context);
    static BOOL onDesktopResize(rdpContext *context);
    static BOOL onSurfaceFrameMarker(rdpContext *context, const SURFACE_FRAME_MARKER *marker);

    QVariantMap params;
    RdpContext *context = nullptr;
    bool m_connected = false;
    int m_exitCode = 0;
    RdpWorkerThread *worker = nullptr;
    HANDLE quitEvent = nullptr;
    RdpClipboardBridge *clipboard = nullptr;
    RdpCertificatePrompt *certificatePrompt = nullptr; // asks about untrusted certificates

    QString title;
    QList<RdpViewer> viewers;
    bool connectRunning = false; // freerdp_connect is running on the worker thread
    // Set by the worker once freerdp_connect returned.
    std::shared_ptr<std::atomic_bool> connectReturned;
    std::unique_ptr<RdpConnectSockets> connectSockets;
    int connectTimeoutMs = 30000;
    QTimer *connectLimit = nullptr;
    bool processing = false;  // inside FreeRDP's event processing
};
