#include "rdp/rdprailsession.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpcoordinates.h"
#include "rdp/rdpinstance.h"
#include "windows/rdprailsessionmenu.h"
#include "windows/rdprailwidget.h"
#include "windows/x11windowstack.h"

#include <QApplication>
#include <QHash>
#include <QScreen>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <freerdp/client/rail.h>
#include <freerdp/update.h>
#include <winpr/error.h>

namespace {

// Window styles of the window orders.
const quint32 StylePopup = 0x80000000;
const quint32 ExStyleTopmost = 0x00000008;
const quint32 ExStyleToolWindow = 0x00000080;

// How long the window manager may take to restack as asked before local changes count again.
const int RestackWaitMs = 500;
// How long the window manager may take to activate the window the server made active.
const int ActivationGraceMs = 300;

// The window's rectangle in an order, bounded to what 16-bit window systems can place.
QRect remoteRectOf(const RdpRailWindowOrder &order)
{
    const auto coordinate = [](qint32 value) { return qBound(-32768, value, 32767); };
    const auto extent = [](quint32 value) { return int(qMin<quint32>(value, 32767)); };
    return QRect(coordinate(order.offsetX), coordinate(order.offsetY), extent(order.width),
                 extent(order.height));
}

// Runs f with the session on the GUI thread: now when called there, else queued. FreeRDP may
// handle orders on the worker thread while it connects.
template<class F>
void withSession(rdpContext *rdp, F f)
{
    RdpContext *context = RdpContext::from(rdp);
    RdpRailSession *session = context ? context->railSession : nullptr;
    if (!session)
        return;
    if (QThread::currentThread() == session->thread())
        f(session);
    else
        QMetaObject::invokeMethod(session, [session, f]() { f(session); }, Qt::QueuedConnection);
}

BOOL onWindowOrder(rdpContext *rdp, const WINDOW_ORDER_INFO *info, const WINDOW_STATE_ORDER *state)
{
    if (!info || !state)
        return TRUE;
    const RdpRailWindowOrder order = RdpRailWindowOrder::from(info, state);
    withSession(rdp, [order](RdpRailSession *session) { session->handleWindowOrder(order); });
    return TRUE;
}

BOOL onWindowDelete(rdpContext *rdp, const WINDOW_ORDER_INFO *info)
{
    if (!info)
        return TRUE;
    const quint32 id = info->windowId;
    withSession(rdp, [id](RdpRailSession *session) { session->handleWindowDelete(id); });
    return TRUE;
}

BOOL onMonitoredDesktop(rdpContext *rdp, const WINDOW_ORDER_INFO *info,
                        const MONITORED_DESKTOP_ORDER *desktop)
{
    if (!info || !desktop)
        return TRUE;
    RdpRailDesktopOrder order;
    order.fieldFlags = info->fieldFlags;
    order.activeWindowId = desktop->activeWindowId;
    for (UINT32 i = 0; desktop->windowIds && i < desktop->numWindowIds; ++i)
        order.windowIds.append(desktop->windowIds[i]);
    withSession(rdp, [order](RdpRailSession *session) { session->handleMonitoredDesktop(order); });
    return TRUE;
}

// The answer to the server's RemoteApp handshake (FreeRDP's channel client has already sent its
// own handshake): our status, the language bar, our system parameters and the program to start,
// "nothing", since the session runs its programs itself. Runs on the channel's thread and only
// reads settings that stay fixed while connected.
UINT startRemoteApplication(RailClientContext *rail)
{
    auto *context = rail ? static_cast<RdpContext *>(rail->custom) : nullptr;
    if (!context)
        return CHANNEL_RC_OK;
    rdpSettings *settings = context->settings();
    UINT status = CHANNEL_RC_OK;
    if (rail->ClientInformation) {
        RAIL_CLIENT_STATUS_ORDER clientStatus = {};
        if ((status = rail->ClientInformation(rail, &clientStatus)) != CHANNEL_RC_OK)
            return status;
    }
    if (freerdp_settings_get_bool(settings, FreeRDP_RemoteAppLanguageBarSupported)
        && rail->ClientLanguageBarInfo) {
        RAIL_LANGBAR_INFO_ORDER languageBar = {};
        languageBar.languageBarStatus = 0x00000008; // hidden
        status = rail->ClientLanguageBarInfo(rail, &languageBar);
        // A server without language bar support is no failure.
        if (status != CHANNEL_RC_OK && status != ERROR_BAD_CONFIGURATION)
            return status;
    }
    if (rail->ClientSystemParam) {
        RAIL_SYSPARAM_ORDER sysparam = {};
        sysparam.params = SPI_MASK_SET_HIGH_CONTRAST | SPI_MASK_SET_MOUSE_BUTTON_SWAP
            | SPI_MASK_SET_KEYBOARD_PREF | SPI_MASK_SET_DRAG_FULL_WINDOWS
            | SPI_MASK_SET_KEYBOARD_CUES | SPI_MASK_SET_WORK_AREA;
        sysparam.highContrast.flags = 0x7E;
        const UINT32 width = freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth);
        const UINT32 height = freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight);
        sysparam.workArea.right = UINT16(qMin<UINT32>(width, 0xFFFF));
        sysparam.workArea.bottom = UINT16(qMin<UINT32>(height, 0xFFFF));
        if ((status = rail->ClientSystemParam(rail, &sysparam)) != CHANNEL_RC_OK)
            return status;
    }
    if (!rail->ClientExecute)
        return CHANNEL_RC_OK;
    RAIL_EXEC_ORDER exec = {};
    const auto text = [settings](size_t id) {
        return const_cast<char *>(freerdp_settings_get_string(settings, id));
    };
    exec.RemoteApplicationProgram = text(FreeRDP_RemoteApplicationProgram);
    exec.RemoteApplicationWorkingDir = text(FreeRDP_ShellWorkingDirectory);
    exec.RemoteApplicationArguments = text(FreeRDP_RemoteApplicationCmdLine);
    return rail->ClientExecute(rail, &exec);
}

UINT onServerHandshake(RailClientContext *rail, const RAIL_HANDSHAKE_ORDER *)
{
    return startRemoteApplication(rail);
}

UINT onServerHandshakeEx(RailClientContext *rail, const RAIL_HANDSHAKE_EX_ORDER *)
{
    return startRemoteApplication(rail);
}

} // namespace

RdpRailWindowOrder RdpRailWindowOrder::from(const WINDOW_ORDER_INFO *info,
                                            const WINDOW_STATE_ORDER *state)
{
    RdpRailWindowOrder order;
    order.windowId = info->windowId;
    order.fieldFlags = info->fieldFlags;
    order.ownerWindowId = state->ownerWindowId;
    order.style = state->style;
    order.extendedStyle = state->extendedStyle;
    order.showState = state->showState;
    order.offsetX = state->windowOffsetX;
    order.offsetY = state->windowOffsetY;
    order.width = state->windowWidth;
    order.height = state->windowHeight;
    if ((info->fieldFlags & WINDOW_ORDER_FIELD_TITLE) && state->titleInfo.string)
        order.title = QString::fromUtf16(reinterpret_cast<const ushort *>(state->titleInfo.string),
                                         state->titleInfo.length / 2);
    return order;
}

RdpRailSession::RdpRailSession(RdpContext *context, const QString &title, QObject *parent)
    : QObject(parent)
    , context(context)
    , sessionMenu(new RdpRailSessionMenu(context, title))
    , stack(new X11WindowStack(this))
    , restackTimer(new QTimer(this))
{
    context->railWindows = new QMap<quint32, RdpRailWidget *>;
    context->railZOrder = new QList<RdpRailWidget *>;
    context->railFocusWindow = nullptr;
    context->railZOrderBusy = 0;
    context->railSession = this;
    restackTimer->setSingleShot(true);
    connect(restackTimer, &QTimer::timeout, this, &RdpRailSession::endRestacking);
    connect(stack, &X11WindowStack::stackingChanged, this, &RdpRailSession::handleStackingChange);
}

RdpRailSession::~RdpRailSession()
{
    const QList<RdpRailWidget *> windows = context->railWindows->values();
    qDeleteAll(windows);
    delete context->railWindows;
    context->railWindows = nullptr;
    delete context->railZOrder;
    context->railZOrder = nullptr;
    if (context->railSession == this)
        context->railSession = nullptr;
    delete sessionMenu;
}

void RdpRailSession::installCallbacks(RdpContext *context)
{
    rdpUpdate *update = context->rdp()->update;
    if (update && update->window) {
        update->window->WindowCreate = onWindowOrder;
        update->window->WindowUpdate = onWindowOrder;
        update->window->WindowDelete = onWindowDelete;
        update->window->MonitoredDesktop = onMonitoredDesktop;
    }
    if (RailClientContext *rail = context->railClient) {
        rail->ServerHandshake = onServerHandshake;
        rail->ServerHandshakeEx = onServerHandshakeEx;
    }
}

QList<RdpRailWidget *> RdpRailSession::windows() const
{
    return context->railWindows->values();
}

void RdpRailSession::handleScaleChanged()
{
    if (context->instance)
        QMetaObject::invokeMethod(context->instance, "sendMonitorLayout");
    for (RdpRailWidget *window : windows()) {
        window->repaint();
        window->sendGeometry();
    }
}

void RdpRailSession::setSettingsEnabled(bool enabled)
{
    sessionMenu->setSettingsEnabled(enabled);
}

RdpRailWidget *RdpRailSession::createWindow(const RdpRailWindowOrder &order)
{
    Qt::WindowFlags flags;
    if (order.extendedStyle & ExStyleTopmost)
        flags |= Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint;
    const bool tool = order.extendedStyle & ExStyleToolWindow;
    // A window with an owner belongs to it as a dialog does, which the window manager keeps
    // above it.
    const bool owned = (order.fieldFlags & WINDOW_ORDER_FIELD_OWNER)
        && context->railWindows->contains(order.ownerWindowId);
    const Qt::WindowFlags kind = owned ? Qt::Dialog : Qt::Window;
    if (tool)
        flags |= Qt::Tool | Qt::FramelessWindowHint;
    else if (order.style & StylePopup)
        flags |= kind | Qt::FramelessWindowHint;
    else
        flags |= kind | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

    // Popups (menus, tooltips, lists) leave the focus where it is, as on the server: the
    // window manager does not activate them (an activation would be sent to the server, where
    // it closes the menu).
    const bool popup = order.style & StylePopup;
    if (popup)
        flags |= Qt::WindowDoesNotAcceptFocus;
    auto *window = new RdpRailWidget(context, order.windowId, nullptr, flags);
    if (popup)
        window->setAttribute(Qt::WA_ShowWithoutActivating);
    if (tool)
        window->setFocusPolicy(Qt::NoFocus);
    context->railWindows->insert(order.windowId, window);
    sessionMenu->attachTo(window);

    // Where the server put the window. A window at the origin, or with both top corners off
    // the screen, is placed by the local window manager instead; the server's position is
    // kept to recognise the server repeating it.
    const QRect local = railToLocalRect(context, remoteRectOf(order));
    QScreen *screen = QGuiApplication::screenAt(local.topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    bool atOrigin = order.offsetX == 0 && order.offsetY == 0;
    if (!available.contains(local.topLeft(), true) && !available.contains(local.topRight(), true))
        atOrigin = true;
    if (atOrigin)
        window->setRequestedPosition(local.x(), local.y());
    else
        window->setPlacementPending(false);
    window->setSettingsEnabled(context->oxcfgClient != nullptr);

    window->setApplyingServerGeometry(true);
    if (atOrigin)
        window->resize(local.size());
    else
        window->setGeometry(local);
    applyTitleAndOwner(window, order); // before the window manager sees the window
    applyShowState(window, order.showState);
    window->setApplyingServerGeometry(false);
    window->sendGeometry();
    return window;
}

void RdpRailSession::applyTitleAndOwner(RdpRailWidget *window, const RdpRailWindowOrder &order)
{
    if (order.fieldFlags & WINDOW_ORDER_FIELD_TITLE)
        window->setWindowTitle(order.title);
    if (!(order.fieldFlags & WINDOW_ORDER_FIELD_OWNER))
        return;
    RdpRailWidget *owner = context->railWindows->value(order.ownerWindowId);
    if (owner == window->owner())
        return;
    window->setOwner(owner);
    // Qt tells the window manager about the owner of dialogs and tool windows when it shows
    // them; a window that is up already is told here, once Qt is done with it.
    if (window->isVisible()) {
        const quint32 id = quint32(window->winId());
        const quint32 ownerId = owner ? quint32(owner->winId()) : 0;
        QTimer::singleShot(0, stack, [this, id, ownerId]() { stack->setTransientFor(id, ownerId); });
    }
}

// Which window is active the server says in its desktop order; activating windows as they come
// up as well would have the window manager and the server take turns.
void RdpRailSession::applyShowState(RdpRailWidget *window, quint32 showState)
{
    switch (showState) {
    case WINDOW_HIDE:
        // New windows start hidden anyway.
        window->hide();
        return;
    case WINDOW_SHOW_MINIMIZED:
        if (!window->takesServerWindowState(Qt::WindowMinimized))
            return;
        window->setServerWindowState(Qt::WindowMinimized);
        window->showMinimized();
        return;
    case WINDOW_SHOW_MAXIMIZED:
        if (!window->takesServerWindowState(Qt::WindowMaximized))
            return;
        window->setServerWindowState(Qt::WindowMaximized);
        window->showMaximized();
        return;
    case WINDOW_SHOW:
        if (!window->takesServerWindowState(Qt::WindowNoState))
            return;
        window->setServerWindowState(Qt::WindowNoState);
        if (window->isMinimized() || window->isMaximized())
            window->showNormal();
        else
            window->show();
        // Menus and tool windows come up above the window they belong to.
        if (window->windowFlags() & Qt::FramelessWindowHint)
            window->raise();
        return;
    default:
        return;
    }
}

void RdpRailSession::handleWindowOrder(const RdpRailWindowOrder &order)
{
    RdpRailWidget *window = context->railWindows->value(order.windowId);
    if (!window) {
        // Orders for windows we do not know are dropped, and so are the server's invisible
        // 1 by 1 windows at -1,-1.
        if (!(order.fieldFlags & WINDOW_ORDER_STATE_NEW)
            || (order.offsetX == -1 && order.offsetY == -1 && order.width == 1
                && order.height == 1))
            return;
        createWindow(order);
        return;
    }
    // An update (or a repeated new-window order for a window we have).
    const quint32 flags = order.fieldFlags;
    if (flags & WINDOW_ORDER_FIELD_SHOW)
        applyShowState(window, order.showState);
    if (flags & (WINDOW_ORDER_FIELD_WND_OFFSET | WINDOW_ORDER_FIELD_WND_SIZE)) {
        QRect remote = railToRemoteRect(context, window->geometry());
        const QRect given = remoteRectOf(order);
        if (flags & WINDOW_ORDER_FIELD_WND_OFFSET)
            remote.moveTopLeft(given.topLeft());
        if (flags & WINDOW_ORDER_FIELD_WND_SIZE)
            remote.setSize(given.size());
        QRect local = railToLocalRect(context, remote);
        if (window->isPlacementPending()) {
            // The server only repeats its first position: the window stays where the local
            // window manager put it (a new size still applies).
            if (local.topLeft() == window->requestedPosition())
                local.moveTopLeft(window->geometry().topLeft());
            else
                window->setPlacementPending(false);
        }
        const QRect target = railToRemoteRect(context, local);
        if (target != railToRemoteRect(context, window->geometry()) && !window->isHidden()
            && !window->isMinimized()) {
            if (window->isMaximized()) {
                window->update();
            } else {
                window->setApplyingServerGeometry(true);
                window->setGeometry(local);
                window->setApplyingServerGeometry(false);
                // The window manager confirms it later: that is no news for the server.
                window->setServerGeometry(target);
            }
        }
    }
    applyTitleAndOwner(window, order);
}

void RdpRailSession::handleWindowDelete(quint32 windowId)
{
    delete context->railWindows->value(windowId); // which takes it out of the session
}

void RdpRailSession::handleMonitoredDesktop(const RdpRailDesktopOrder &order)
{
    const bool stale = pendingActivation.isStale(order.activeWindowId);
    if ((order.fieldFlags & WINDOW_ORDER_FIELD_DESKTOP_ACTIVE_WND) && !stale) {
        setServerActive(order.activeWindowId);
        RdpRailWidget *window = context->railWindows->value(order.activeWindowId);
        if (window && !window->isActiveWindow()) {
            window->setSuppressActivate(true);
            window->activateWindow();
            // A window manager may keep the focus where the user put it last (as against
            // programs stealing it); the keys go to the server's active window, so ours
            // insists once, as a pager would.
            QTimer::singleShot(ActivationGraceMs, this, &RdpRailSession::insistOnServerActivation);
        }
    }
    if (order.fieldFlags & WINDOW_ORDER_FIELD_DESKTOP_ZORDER) {
        // The server lists its windows topmost first.
        QList<RdpRailWidget *> zOrder;
        for (quint32 id : order.windowIds) {
            RdpRailWidget *window = context->railWindows->value(id);
            if (window && !zOrder.contains(window))
                zOrder.append(window);
        }
        if (zOrder != *context->railZOrder)
            *context->railZOrder = zOrder;
        applyZOrder();
    }
}

void RdpRailSession::insistOnServerActivation()
{
    if (!serverActiveKnown || !context->railWindows)
        return;
    RdpRailWidget *window = context->railWindows->value(serverActive);
    if (!window || window->isActiveWindow() || !window->isVisible() || window->isMinimized())
        return;
    stack->activate(quint32(window->winId())); // the server knows: no echo

}

RdpRailWidget *RdpRailSession::windowOf(quint32 nativeId) const
{
    for (RdpRailWidget *window : qAsConst(*context->railWindows)) {
        if (quint32(window->internalWinId()) == nativeId)
            return window;
    }
    return nullptr;
}

// Walks the local stacking from the top: windows that are not ours stay where they are, ours
// are put one below the other in the server's order, each right under the window before it.
void RdpRailSession::applyZOrder()
{
    const QVector<quint32> bottomUp = stack->stacking();
    const QVector<quint32> topDown(bottomUp.rbegin(), bottomUp.rend());
    QSet<quint32> ours;
    for (RdpRailWidget *window : qAsConst(*context->railZOrder))
        ours.insert(quint32(window->internalWinId()));
    QSet<quint32> placed;
    context->railZOrderBusy = 1;
    bool restacked = false;
    quint32 previous = 0;
    int cursor = 0;
    for (RdpRailWidget *window : qAsConst(*context->railZOrder)) {
        const quint32 id = quint32(window->internalWinId());
        if (!id || !topDown.contains(id))
            continue; // not on the screen: nothing to restack
        while (cursor < topDown.size()) {
            const quint32 here = topDown.at(cursor);
            if (!ours.contains(here))
                previous = here;
            else if (!placed.contains(here))
                break;
            ++cursor;
        }
        placed.insert(id);
        if (cursor < topDown.size() && topDown.at(cursor) == id) {
            previous = id;
            ++cursor;
            continue;
        }
        const bool onTop = window->windowFlags() & Qt::WindowStaysOnTopHint;
        if (!previous || (!onTop && stack->staysOnTop(previous)))
            stack->restack(id, 0, true); // the top of its layer
        else
            stack->restack(id, previous, false);
        restacked = true;
        previous = id;
    }
    if (restacked)
        restackTimer->start(RestackWaitMs);
    else
        endRestacking();
}

bool RdpRailSession::stackingFollowsZOrder(const QVector<quint32> &stacking) const
{
    int above = stacking.size();
    for (RdpRailWidget *window : qAsConst(*context->railZOrder)) {
        const int at = stacking.indexOf(quint32(window->internalWinId()));
        if (at < 0)
            continue;
        if (at >= above)
            return false;
        above = at;
    }
    return true;
}

void RdpRailSession::endRestacking()
{
    restackTimer->stop();
    context->railZOrderBusy = 0;
}

// A window of ours that went above a window it was under has been raised or restacked
// locally: the server learns which of its windows now lies directly above it, or, when that
// is none of its windows, that it went to the top.
void RdpRailSession::handleStackingChange(const QVector<quint32> &before, const QVector<quint32> &after)
{
    if (context->railZOrderBusy) {
        // Our own restacking is not reported back.
        if (stackingFollowsZOrder(after))
            endRestacking();
        return;
    }
    QHash<quint32, int> oldPlace;
    for (int i = 0; i < before.size(); ++i)
        oldPlace.insert(before.at(i), i);
    for (int i = after.size() - 1; i >= 0; --i) {
        RdpRailWidget *window = windowOf(after.at(i));
        if (!window || !oldPlace.contains(after.at(i)))
            continue;
        const int was = oldPlace.value(after.at(i));
        bool rose = false;
        for (int j = 0; j < i && !rose; ++j)
            rose = oldPlace.value(after.at(j), -1) > was;
        if (!rose)
            continue;
        RdpRailWidget *above = i + 1 < after.size() ? windowOf(after.at(i + 1)) : nullptr;
        if (above)
            window->sendZOrder(above);
        else
            window->sendRaise();
    }
}
