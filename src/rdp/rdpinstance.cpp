#include "rdp/rdpinstance.h"

#include "rdp/rdpcertificateprompt.h"
#include "rdp/rdpchannelprovider.h"
#include "rdp/rdpclipboardbridge.h"
#include "rdp/rdpconnectsockets.h"
#include "rdp/rdpcoordinates.h"
#include "rdp/rdpdesktopwidget.h"
#include "rdp/rdpinputsender.h"
#include "rdp/rdpownchannels.h"
#include "rdp/rdppointer.h"
#include "rdp/rdprailsession.h"
#include "rdp/rdpsettings.h"
#include "rdp/rdpworkerthread.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "channels/oxrail/oxrail_main.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdpoptionsdialog.h"
#include "windows/rdprailsessionmenu.h"
#include "windows/rdprailwidget.h"
#include "windows/rdpsharingdialog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <freerdp/cache/pointer.h>
#include <freerdp/codec/color.h>
#include <freerdp/channels/channels.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/client/rail.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/rail.h>
#include <winpr/synch.h>

#include <cstdint>
#include <cstring>

namespace {

// Exit reasons of our own.
const quint32 ReasonConnectFailed = 131;
const quint32 ReasonWaitFailed = 255;

const DWORD WaitTimeoutMs = 1000;

// Client entry points: FreeRDP does the rest of the context's life.
BOOL globalInit() { return TRUE; }
void globalUninit() {}
int clientStart(rdpContext *) { return 0; }
int clientStop(rdpContext *) { return 0; }

bool isRemoteApplication(const RdpContext *context)
{
    return freerdp_settings_get_bool(context->settings(), FreeRDP_RemoteApplicationMode);
}

// The framebuffer of the software GDI as an image, without copying.
QImage framebufferImage(const rdpGdi *gdi)
{
    if (!gdi || !gdi->primary_buffer)
        return QImage();
    QImage::Format format = QImage::Format_RGB32;
    switch (GetBitsPerPixel(gdi->dstFormat)) {
    case 16:
        format = QImage::Format_RGB16;
        break;
    case 24:
        format = QImage::Format_RGB888;
        break;
    default:
        break;
    }
    return QImage(gdi->primary_buffer, int(gdi->width), int(gdi->height), int(gdi->stride),
                  format);
}

// The RemoteApp channel's answer to the server's system parameters: our work area is the
// whole remote desktop, full-window drag is off and there is no high-contrast scheme.
UINT onRailServerSystemParam(RailClientContext *rail, const RAIL_SYSPARAM_ORDER *order)
{
    auto *context = rail ? static_cast<RdpContext *>(rail->custom) : nullptr;
    if (!context || !order || !rail->ClientSystemParam)
        return CHANNEL_RC_OK;
    RAIL_SYSPARAM_ORDER answer = *order;
    const UINT32 width = freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopWidth);
    const UINT32 height = freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopHeight);
    answer.workArea.left = 0;
    answer.workArea.top = 0;
    answer.workArea.right = UINT16(qMin<UINT32>(width, 0xFFFF));
    answer.workArea.bottom = UINT16(qMin<UINT32>(height, 0xFFFF));
    answer.dragFullWindows = FALSE;
    answer.highContrast.colorSchemeLength = 0;
    answer.highContrast.colorScheme.length = 0;
    answer.highContrast.colorScheme.string = nullptr;
    return rail->ClientSystemParam(rail, &answer);
}

} // namespace

RdpInstance::RdpInstance(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<QList<ulong>>("QList<ulong>");
    qRegisterMetaType<RdpViewer>("RdpViewer");
    qRegisterMetaType<QList<RdpViewer>>("QList<RdpViewer>");
    clipboard = new RdpClipboardBridge(
        [this]() { return context ? context->cliprdrClient : nullptr; }, this);
    connectLimit = new QTimer(this);
    connectLimit->setSingleShot(true);
    connect(connectLimit, &QTimer::timeout, this, [this]() {
        if (context && !m_connected)
            teardown(ReasonConnectFailed);
    });
    certificatePrompt = new RdpCertificatePrompt(this);

    // The server learns the monitor layout again whenever screens come, go or change.
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        watchScreen(screen);
        sendMonitorLayout();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &RdpInstance::sendMonitorLayout);
}

void RdpInstance::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::virtualGeometryChanged, this, &RdpInstance::sendMonitorLayout);
    connect(screen, &QScreen::availableGeometryChanged, this, &RdpInstance::sendMonitorLayout);
}

RdpInstance::~RdpInstance()
{
    teardown(0);
}

bool RdpInstance::connectToSession(const QString &host, quint16 port, const QString &user,
                                   const QString &password, quint16 tunnelPort,
                                   const QString &mode, const QString &title, bool direct,
                                   const QVariantMap &params)
{
    if (context)
        return true;
    this->params = params;
    this->title = title;

    RDP_CLIENT_ENTRY_POINTS entryPoints;
    std::memset(&entryPoints, 0, sizeof(entryPoints));
    entryPoints.Size = sizeof(entryPoints);
    entryPoints.Version = RDP_CLIENT_INTERFACE_VERSION;
    entryPoints.GlobalInit = globalInit;
    entryPoints.GlobalUninit = globalUninit;
    entryPoints.ContextSize = sizeof(RdpContext);
    entryPoints.ClientNew = clientNew;
    entryPoints.ClientFree = clientFree;
    entryPoints.ClientStart = clientStart;
    entryPoints.ClientStop = clientStop;

    rdpContext *rdp = freerdp_client_context_new(&entryPoints);
    if (!rdp) {
        // Nothing to tear down; report it like any failed connection, after returning.
        m_exitCode = rdpExitCodeForReason(ReasonConnectFailed);
        QMetaObject::invokeMethod(this, "finished", Qt::QueuedConnection);
        return true;
    }
    context = RdpContext::from(rdp);
    context->instance = this;

    const RdpZoom zoom = rdpStoredZoom(params.value(QStringLiteral("SessionId")).toString());
    context->localToRemoteScale = zoom.localToRemote;
    context->remoteToLocalScale = zoom.remoteToLocal;

    RdpConnectOptions options;
    options.host = host;
    options.port = port;
    options.user = user;
    options.password = password;
    options.tunnelPort = tunnelPort;
    options.mode = mode;
    options.title = title;
    options.direct = direct;
    options.keyboardLayout = localKeyboardLayout();
    options.remoteDesktopSize = remoteDesktopRect(context).size();
    rdpSettings *settings = context->settings();
    if (!applyRdpSettings(settings, options))
        qWarning("RdpInstance: FreeRDP refused a connection setting");
    // FreeRDP gives up connecting a socket by itself; connectLimit bounds the whole step.
    freerdp_settings_set_uint32(settings, FreeRDP_TcpConnectTimeout,
                                UINT32(qBound(1, connectTimeoutMs, 15000)));
    certificatePrompt->prepare(context->freerdpInstance(), direct);

    // FreeRDP's clients ("rail" in remote-application mode, "cliprdr" for the clipboard),
    // then ours.
    registerRdpChannelProvider();
    if (!freerdp_client_load_addins(rdp->channels, settings))
        qWarning("RdpInstance: FreeRDP could not load its channel clients");
    // Rootless sessions get no oxdesk or oxshare, desktop sessions no oxrail.
    const bool remoteApplication =
        freerdp_settings_get_bool(settings, FreeRDP_RemoteApplicationMode);
    const char *const rootlessChannels[] = {"oxrail", "oxcfg"};
    const char *const desktopChannels[] = {"oxdesk", "oxshare", "oxcfg"};
    const auto loadOwn = [rdp, settings](const char *name) {
        // A channel whose client is not built in is skipped.
        if (PVIRTUALCHANNELENTRY entry =
                rdpChannelProvider(name, nullptr, nullptr,
                                   FREERDP_ADDIN_CHANNEL_STATIC | FREERDP_ADDIN_CHANNEL_ENTRYEX))
            freerdp_channels_client_load_ex(rdp->channels, settings,
                                            reinterpret_cast<PVIRTUALCHANNELENTRYEX>(
                                                reinterpret_cast<void (*)()>(entry)),
                                            nullptr);
    };
    if (remoteApplication) {
        for (const char *name : rootlessChannels)
            loadOwn(name);
    } else {
        for (const char *name : desktopChannels)
            loadOwn(name);
    }

    // Rootless windows come from the server's window orders, which may arrive while connecting.
    if (remoteApplication)
        context->railSession = new RdpRailSession(context, title);

    worker = new RdpWorkerThread(this);
    connect(worker, &RdpWorkerThread::finished, this, &RdpInstance::connectFinished);
    freerdp *instance = context->freerdpInstance();
    connectRunning = true;
    connectReturned = std::make_shared<std::atomic_bool>(false);
    connectSockets.reset(new RdpConnectSockets(!direct && tunnelPort != 0 ? tunnelPort : port));
    const std::shared_ptr<std::atomic_bool> returned = connectReturned;
    const std::shared_ptr<RdpCertificatePrompt::Gate> gate = certificatePrompt->gate();
    worker->post([instance, returned, gate]() {
        const RdpCertificatePrompt::Scope questions(gate); // FreeRDP may ask about certificates
        const bool succeeded = freerdp_connect(instance);
        *returned = true;
        return QVariant(succeeded ? 1 : 0);
    });
    connectLimit->start(qMax(0, connectTimeoutMs));
    return true;
}

void RdpInstance::createDesktopWindow()
{
    const int width = int(freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopWidth));
    const int height = int(freerdp_settings_get_uint32(context->settings(), FreeRDP_DesktopHeight));
    auto *desktop = new RdpDesktopWidget(context);
    desktop->resize(toLocalRect(context, QRect(0, 0, width, height)).size());

    auto *window = new RdpMainWidget(context);
    RdpContext *session = context;
    window->setDesktopSizeSender([session](int width, int height) {
        OxdeskClientContext *oxdesk = session->oxdeskClient;
        if (oxdesk && session->oxdeskHeard && oxdesk->SizeRequest)
            oxdesk->SizeRequest(oxdesk, UINT16(qBound(0, width, 0xFFFF)),
                                UINT16(qBound(0, height, 0xFFFF)));
    });
    window->setDesktopWidget(desktop);
    applyLastRdpPointer(context); // the shape the server set while connecting
    window->setWindowTitle(title);
    if (freerdp_settings_get_bool(context->settings(), FreeRDP_Fullscreen))
        window->enterFullScreen();
    else
        window->show();
    window->activateWindow();
    context->mainWidget = window;

    window->setResizeMode(false);
    updateResizeButton();
    if (context->oxshareClient) {
        context->sharingDialog = new RdpSharingDialog(
            context, params.value(QStringLiteral("SshHost")).toString(),
            quint16(params.value(QStringLiteral("SshPort"), 22).toUInt()), window);
        context->sharingDialog->setWindowTitle(title);
    }
    window->setSharingEnabled(context->oxshareClient != nullptr);
}

void RdpInstance::destroyWindows()
{
    delete context->railSession; // and with it every rootless window
    delete context->sharingDialog;
    context->sharingDialog = nullptr;
    delete context->mainWidget;
    context->mainWidget = nullptr;
}

void RdpInstance::resizeDesktop(const QSize &size)
{
    if (QThread::currentThread() != thread())
        return; // while connecting: the window is made with the new size

    if (context && context->mainWidget) {
        if (QWidget *desktop = context->mainWidget->desktopWidget())
            desktop->resize(toLocalRect(context, QRect(QPoint(0, 0), size)).size());
    }
    emit desktopResized(size);
}

void RdpInstance::quit()
{
    // Never from inside FreeRDP's own processing: finish that first.
    if (processing) {
        QMetaObject::invokeMethod(this, "quit", Qt::QueuedConnection);
        return;
    }
    teardown(0);
}

void RdpInstance::connectFinished(const QVariant &result)
{
    if (!context)
        return;
    connectRunning = false;
    connectLimit->stop();
    connectSockets.reset();
    if (result.toInt() == 0) {
        teardown(ReasonConnectFailed);
        return;
    }

    if (isRemoteApplication(context)) {
        context->railSession->setSettingsEnabled(context->oxcfgClient != nullptr);
        context->railSession->menu()->showTrayIcon();
    } else {
        createDesktopWindow();
    }
    context->optionsDialog = new RdpOptionsDialog(
        context, params.value(QStringLiteral("RemoteHost")).toString(),
        params.value(QStringLiteral("SessionId")).toString(), context->mainWidget);
    context->optionsDialog->setWindowTitle(title);

    context->frameInProgress = 0;
    context->pendingRegion = new QRegion;

    m_connected = true;
    sendMonitorLayout();
    disconnect(worker, &RdpWorkerThread::finished, this, &RdpInstance::connectFinished);
    connect(worker, &RdpWorkerThread::finished, this, &RdpInstance::waitFinished);
    quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    postWait();
    emit connected();
}

void RdpInstance::postWait()
{
    rdpContext *rdp = context->rdp();
    HANDLE quit = quitEvent;
    worker->post([rdp, quit]() {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        handles[0] = quit;
        const DWORD count = freerdp_get_event_handles(rdp, handles + 1, MAXIMUM_WAIT_OBJECTS - 1);
        if (count == 0)
            return QVariant(quint32(WAIT_FAILED));
        return QVariant(quint32(WaitForMultipleObjects(count + 1, handles, FALSE, WaitTimeoutMs)));
    });
}

void RdpInstance::waitFinished(const QVariant &result)
{
    if (!context || !m_connected)
        return;
    if (result.toUInt() == WAIT_FAILED) {
        teardown(ReasonWaitFailed);
        return;
    }
    processing = true;
    const bool ok = freerdp_check_event_handles(context->rdp());
    processing = false;
    if (!context)
        return;
    freerdp *instance = context->freerdpInstance();
    if (!ok || freerdp_shall_disconnect(instance)) {
        teardown(freerdp_error_info(instance));
        return;
    }
    postWait();
}

void RdpInstance::teardown(quint32 reason)
{
    if (!context)
        return;
    freerdp *instance = context->freerdpInstance();
    // A connect step waiting for the user's answer about a certificate gets "no" now.
    certificatePrompt->cancel();

    if (m_connected) {
        SetEvent(quitEvent);
        disconnect(worker, nullptr, this, nullptr);
        delete worker;
        worker = nullptr;
        CloseHandle(quitEvent);
        quitEvent = nullptr;
        delete context->pendingRegion;
        context->pendingRegion = nullptr;
        delete context->optionsDialog;
        context->optionsDialog = nullptr;
        destroyWindows();
        freerdp_disconnect(instance);
    } else if (worker) {
        // Still connecting: make freerdp_connect give up, then wait for it. A server that
        // accepted and stays silent would keep its blocking reads waiting for ever, so the
        // connection's sockets are shut down as well, until the step has returned (it may
        // be opening the next one just now).
        if (connectRunning) {
            freerdp_abort_connect(instance);
            for (int round = 0; !*connectReturned; ++round) {
                if (round % 10 == 0 && connectSockets)
                    connectSockets->shutdown();
                QThread::msleep(10);
            }
        }
        disconnect(worker, nullptr, this, nullptr);
        delete worker;
        worker = nullptr;
        delete context->railSession;
        // Whatever the connect step got to (it may even have succeeded, its result still on
        // its way), FreeRDP's disconnect takes it down: it stops the receive threads of
        // channels that connected before a late failure, and it terminates every channel
        // client, which frees them and leaves none registered under a handle that a later
        // connection may be given again.
        freerdp_disconnect(instance);
    }
    connectReturned.reset();
    connectSockets.reset();
    connectLimit->stop();

    // Results and channel callbacks of this connection that are still queued are void now;
    // a later connection of this object must not see them.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);

    viewers.clear();
    connectRunning = false;
    clipboard->reset();
    m_exitCode = rdpExitCodeForReason(reason);
    m_connected = false;

    gdi_free(instance);
    freerdp_client_context_free(context->rdp());
    context = nullptr;
    emit finished();
}

void RdpInstance::showRegion(const QRegion &remoteRegion)
{
    // Updates that FreeRDP handles while it connects run on the worker thread; there is no
    // window yet then, and the window paints the whole framebuffer when it appears.
    if (remoteRegion.isEmpty() || QThread::currentThread() != thread())
        return;
    ::showRegion(context, remoteRegion);
    emit regionUpdated(remoteRegion);
}

// Clipboard: the channel's callbacks arrive here queued, the bridge does the work.
void RdpInstance::handleCliprdrMonitorReady() { clipboard->handleMonitorReady(); }

void RdpInstance::handleCliprdrServerFormatList(const QList<ulong> &formatIds)
{
    clipboard->handleServerFormatList(formatIds);
}

void RdpInstance::handleCliprdrServerFormatDataRequest(ulong formatId)
{
    clipboard->handleServerFormatDataRequest(formatId);
}

void RdpInstance::handleCliprdrServerFormatDataResponse(const QByteArray &data)
{
    clipboard->handleServerFormatDataResponse(data);
}


// Our own channels' callbacks arrive here queued.

void RdpInstance::handleOxdeskMinMaxInfo(const QSize &, const QSize &)
{
    if (!context)
        return;
    context->oxdeskHeard = true;
    updateResizeButton();
}

void RdpInstance::handleOxdeskDesktopResized(const QSize &size)
{
    if (!context)
        return;
    if (!context->oxdeskHeard) {
        context->oxdeskHeard = true;
        updateResizeButton();
    }
    if (!context->mainWidget)
        return;
    if (QWidget *desktop = context->mainWidget->desktopWidget())
        desktop->resize(toLocalRect(context, QRect(QPoint(0, 0), size)).size());
}

void RdpInstance::handleOxshareClientId(ulong id)
{
    if (!context)
        return;
    if (context->sharingDialog)
        context->sharingDialog->setClientId(quint32(id));
    // Only the owner (id 0) may resize the remote desktop; it starts in resize mode.
    context->oxshareGuest = id != 0;
    context->resizeModeWanted = id == 0;
    updateResizeButton();
}

void RdpInstance::updateResizeButton()
{
    if (!context || !context->mainWidget)
        return;
    const bool allowed = context->oxdeskClient && context->oxdeskHeard && !context->oxshareGuest;
    context->mainWidget->setResizeEnabled(allowed);
    if (!allowed) {
        context->mainWidget->setResizeMode(false);
    } else if (context->resizeModeWanted) {
        context->resizeModeWanted = false;
        context->mainWidget->setResizeMode(true);
    }
}

void RdpInstance::handleOxshareDisconnectInfo(ulong) {}

void RdpInstance::handleOxcfgOptionsUpdatedNotify(const QString &json)
{
    if (context && context->optionsDialog)
        context->optionsDialog->handleOptionsUpdated(json);
}

void RdpInstance::handleOxcfgSetOptionsResponse(const QString &json)
{
    if (context && context->optionsDialog)
        context->optionsDialog->handleSetOptionsResponse(json);
}

void RdpInstance::handleOxshareMouseEvent(const QPoint &pos, ulong flags)
{
    if (context && context->mainWidget)
        context->mainWidget->handleOverlayMouseEvent(toLocalPoint(context, pos), flags);
}

QVector<QRect> RdpInstance::monitorLayout(const RdpContext *context)
{
    QVector<QRect> layout;
    QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return layout;
    const QList<QScreen *> siblings = primary->virtualSiblings();
    if (siblings.size() > 1) {
        for (QScreen *screen : QGuiApplication::screens()) {
            if (siblings.contains(screen))
                layout << railToRemoteRect(context, screen->availableGeometry());
        }
    } else {
        layout << railToRemoteRect(context, primary->availableGeometry());
    }
    return layout;
}

void RdpInstance::sendMonitorLayout()
{
    if (!context || !m_connected)
        return;
    // Only rootless sessions tell the server, through the rootless window channel. A server
    // without RemoteApp support turns the mode off while connecting; such a server has no
    // oxrail either, and FreeRDP's servers drop a client that writes to a channel they did not
    // open.
    OxrailClientContext *oxrail = context->oxrailClient;
    if (!oxrail || !oxrail->MonitorLayout || !isRemoteApplication(context))
        return;
    const auto clamp = [](int value) { return int16_t(qBound(-32768, value, 32767)); };
    std::vector<oxrail::Rect16> rectangles;
    for (const QRect &r : monitorLayout(context)) {
        // Right and bottom exclusive.
        rectangles.push_back({clamp(r.left()), clamp(r.top()), clamp(r.left() + r.width()),
                              clamp(r.top() + r.height())});
    }
    oxrail->MonitorLayout(oxrail, UINT32(rectangles.size()), rectangles.data());
}

void RdpInstance::checkFocus()
{
    if (!context || !context->railFocusWindow)
        return;
    if (QApplication::focusWidget() == context->railFocusWindow)
        return;
    FreeRdpInputSender(context->input()).sendSynchronizeEvent(0);
    context->railFocusWindow = nullptr;
}

QList<RdpRailWidget *> RdpInstance::railWindows() const
{
    return context && context->railSession ? context->railSession->windows()
                                           : QList<RdpRailWidget *>();
}

QStringList RdpInstance::sharingMessages(const QList<RdpViewer> &before,
                                         const QList<RdpViewer> &after, bool *controllerChanged)
{
    const auto summary = [](const QList<RdpViewer> &list, QSet<quint32> *ids) {
        quint32 controller = 0;
        for (const RdpViewer &viewer : list) {
            ids->insert(viewer.id);
            if (viewer.controller)
                controller = viewer.id;
        }
        return controller;
    };
    const auto nameOf = [](const QList<RdpViewer> &list, quint32 id) {
        for (const RdpViewer &viewer : list) {
            if (viewer.id == id)
                return viewer.name;
        }
        return QString();
    };
    QSet<quint32> oldIds;
    QSet<quint32> newIds;
    const quint32 oldController = summary(before, &oldIds);
    const quint32 newController = summary(after, &newIds);

    QStringList messages;
    *controllerChanged = oldController != newController;
    if (*controllerChanged && newIds.contains(newController))
        messages << tr("%1 now has control of the session.").arg(nameOf(after, newController));
    for (quint32 id : qAsConst(newIds)) {
        if (!oldIds.contains(id))
            messages << tr("%1 has joined the session.").arg(nameOf(after, id));
    }
    for (quint32 id : qAsConst(oldIds)) {
        if (!newIds.contains(id))
            messages << tr("%1 has left the session.").arg(nameOf(before, id));
    }
    return messages;
}

void RdpInstance::handleOxshareServerStatus(bool active, const QList<RdpViewer> &newViewers)
{
    // The first status of a connection is no change to report.
    if (!viewers.isEmpty()) {
        bool controllerChanged = false;
        const QStringList messages = sharingMessages(viewers, newViewers, &controllerChanged);
        RdpMainWidget *window = context ? context->mainWidget : nullptr;
        if (controllerChanged && window)
            window->handleOverlayMouseEvent(QPoint(-1, -1), 0); // hide the other pointer
        if (!messages.isEmpty() && window)
            window->showSharingNotification(messages.join(QLatin1Char('\n')));
    }
    viewers = newViewers;
    if (context && context->sharingDialog)
        context->sharingDialog->setServerStatus(active, newViewers);
}

// FreeRDP's callbacks.

BOOL RdpInstance::clientNew(freerdp *instance, rdpContext *)
{
    instance->PreConnect = preConnect;
    instance->PostConnect = postConnect;
    // The channel manager is made and freed with the context by FreeRDP itself.
    return TRUE;
}

void RdpInstance::clientFree(freerdp *, rdpContext *) {}

BOOL RdpInstance::preConnect(freerdp *instance)
{
    rdpSettings *settings = instance->settings;
    BYTE *orders = settings->OrderSupport;
    const bool bitmapCache = freerdp_settings_get_bool(settings, FreeRDP_BitmapCacheEnabled);
    for (int index : {NEG_DSTBLT_INDEX, NEG_PATBLT_INDEX, NEG_SCRBLT_INDEX, NEG_MEM3BLT_INDEX,
                      NEG_LINETO_INDEX, NEG_OPAQUE_RECT_INDEX, NEG_MULTIOPAQUERECT_INDEX,
                      NEG_FAST_INDEX_INDEX, NEG_POLYLINE_INDEX, NEG_FAST_GLYPH_INDEX,
                      NEG_GLYPH_INDEX_INDEX})
        orders[index] = TRUE;
    orders[NEG_MEMBLT_INDEX] = bitmapCache ? TRUE : FALSE;
    orders[NEG_MEMBLT_V2_INDEX] = bitmapCache ? TRUE : FALSE;
    for (int index : {NEG_DRAWNINEGRID_INDEX, NEG_MULTI_DRAWNINEGRID_INDEX, NEG_SAVEBITMAP_INDEX,
                      NEG_MEM3BLT_V2_INDEX, NEG_MULTIDSTBLT_INDEX, NEG_MULTIPATBLT_INDEX,
                      NEG_MULTISCRBLT_INDEX, NEG_POLYGON_SC_INDEX, NEG_POLYGON_CB_INDEX,
                      NEG_ELLIPSE_SC_INDEX, NEG_ELLIPSE_CB_INDEX})
        orders[index] = FALSE;

    PubSub_SubscribeChannelConnected(instance->context->pubSub, onChannelConnected);
    PubSub_SubscribeChannelDisconnected(instance->context->pubSub, onChannelDisconnected);
    // FreeRDP runs the channel manager's own pre-connect step after this.
    return TRUE;
}

BOOL RdpInstance::postConnect(freerdp *instance)
{
    // BGRX in memory is what QImage::Format_RGB32 reads on a little-endian machine.
    if (!gdi_init(instance, PIXEL_FORMAT_BGRX32))
        return FALSE;
    rdpUpdate *update = instance->update;
    update->BeginPaint = onBeginPaint;
    update->EndPaint = onEndPaint;
    update->DesktopResize = onDesktopResize;
    update->SurfaceFrameMarker = onSurfaceFrameMarker;
    pointer_cache_register_callbacks(update);
    registerRdpPointer(instance->context->graphics);
    return TRUE;
}

void RdpInstance::onChannelConnected(void *ctx, ChannelConnectedEventArgs *e)
{
    auto *context = static_cast<RdpContext *>(ctx);
    if (!context || !e || !e->name)
        return;
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0) {
        context->cliprdrClient = static_cast<CliprdrClientContext *>(e->pInterface);
        RdpClipboardBridge::installCallbacks(context->cliprdrClient, context);
    } else if (std::strcmp(e->name, RAIL_SVC_CHANNEL_NAME) == 0) {
        context->railClient = static_cast<RailClientContext *>(e->pInterface);
        if (context->railClient) {
            context->railClient->custom = context;
            context->railClient->ServerSystemParam = onRailServerSystemParam;
            RdpRailSession::installCallbacks(context);
        }
    } else {
        connectOwnRdpChannel(context, e->name, e->pInterface);
    }
}

void RdpInstance::onChannelDisconnected(void *ctx, ChannelDisconnectedEventArgs *e)
{
    auto *context = static_cast<RdpContext *>(ctx);
    if (!context || !e || !e->name)
        return;
    if (std::strcmp(e->name, CLIPRDR_SVC_CHANNEL_NAME) == 0)
        context->cliprdrClient = nullptr;
    else if (std::strcmp(e->name, RAIL_SVC_CHANNEL_NAME) == 0)
        context->railClient = nullptr;
    else
        disconnectOwnRdpChannel(context, e->name);
}

BOOL RdpInstance::onBeginPaint(rdpContext *rdp)
{
    rdpGdi *gdi = rdp->gdi;
    if (!gdi || !gdi->primary || !gdi->primary->hdc || !gdi->primary->hdc->hwnd)
        return TRUE;
    HGDI_WND hwnd = gdi->primary->hdc->hwnd;
    hwnd->invalid->null = TRUE;
    hwnd->ninvalid = 0;
    return TRUE;
}

BOOL RdpInstance::onEndPaint(rdpContext *rdp)
{
    rdpGdi *gdi = rdp->gdi;
    if (!gdi || !gdi->primary || !gdi->primary->hdc || !gdi->primary->hdc->hwnd)
        return TRUE;
    HGDI_WND hwnd = gdi->primary->hdc->hwnd;
    if (hwnd->invalid->null || hwnd->ninvalid <= 0)
        return TRUE;
    QRegion region;
    for (INT32 i = 0; i < hwnd->ninvalid; ++i) {
        const GDI_RGN &r = hwnd->cinvalid[i];
        if (r.w > 0 && r.h > 0)
            region += QRect(r.x, r.y, r.w, r.h);
    }
    RdpContext *context = RdpContext::from(rdp);
    if (context->frameInProgress && context->pendingRegion)
        *context->pendingRegion += region;
    else if (context->instance)
        context->instance->showRegion(region);
    return TRUE;
}

BOOL RdpInstance::onSurfaceFrameMarker(rdpContext *rdp, const SURFACE_FRAME_MARKER *marker)
{
    RdpContext *context = RdpContext::from(rdp);
    if (!marker)
        return TRUE;
    if (marker->frameAction == SURFACECMD_FRAMEACTION_BEGIN) {
        context->frameInProgress = 1;
    } else if (marker->frameAction == SURFACECMD_FRAMEACTION_END) {
        context->frameInProgress = 0;
        if (freerdp_settings_get_uint32(rdp->settings, FreeRDP_FrameAcknowledge) > 0
            && rdp->update->SurfaceFrameAcknowledge)
            rdp->update->SurfaceFrameAcknowledge(rdp, marker->frameId);
        if (context->pendingRegion) {
            const QRegion region = *context->pendingRegion;
            *context->pendingRegion = QRegion();
            if (context->instance)
                context->instance->showRegion(region);
        }
    }
    return TRUE;
}

BOOL RdpInstance::onDesktopResize(rdpContext *rdp)
{
    RdpContext *context = RdpContext::from(rdp);
    rdpGdi *gdi = rdp->gdi;
    if (!gdi)
        return FALSE;
    const QImage before = framebufferImage(gdi).copy();
    const UINT32 width = freerdp_settings_get_uint32(rdp->settings, FreeRDP_DesktopWidth);
    const UINT32 height = freerdp_settings_get_uint32(rdp->settings, FreeRDP_DesktopHeight);
    if (!gdi_resize(gdi, width, height))
        return FALSE;
    QImage after = framebufferImage(gdi);
    if (!before.isNull() && !after.isNull()) {
        QPainter painter(&after);
        painter.drawImage(0, 0, before);
    }
    if (!isRemoteApplication(context) && context->instance)
        context->instance->resizeDesktop(QSize(int(width), int(height)));
    return TRUE;
}
