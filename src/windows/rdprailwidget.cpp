#include "windows/rdprailwidget.h"

#include "channels/oxrail/oxrail_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpcoordinates.h"
#include "rdp/rdpdesktopwidget.h"
#include "rdp/rdpinputsender.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpkeyboard.h"
#include "rdp/rdpmouse.h"
#include "rdp/rdpmousecoalescer.h"
#include "rdp/rdprailsession.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

namespace {

// Window commands of the RemoteApp channel.
const ushort ScMinimize = 0xF020;
const ushort ScMaximize = 0xF030;
const ushort ScClose = 0xF060;
const ushort ScRestore = 0xF120;

const quint32 LeftAlt = 0x38;
const quint32 RightAlt = 0x138;

Qt::WindowStates shownState(Qt::WindowStates state)
{
    if (state & Qt::WindowMinimized)
        return Qt::WindowMinimized;
    if (state & Qt::WindowMaximized)
        return Qt::WindowMaximized;
    return Qt::WindowNoState;
}

} // namespace

RdpRailWidget::RdpRailWidget(RdpContext *context, quint32 windowId, QWidget *parent,
                             Qt::WindowFlags flags)
    : QWidget(parent, flags)
    , context(context)
    , id(windowId)
    , mouse(new RdpMouseCoalescer(
          [this](quint16 buttons, const QPoint &p) {
              input->sendMouseEvent(buttons, rdpMouseCoordinate(p.x()),
                                    rdpMouseCoordinate(p.y()));
          },
          this))
    , geometryTimer(new QTimer(this))
    , input(std::make_unique<FreeRdpInputSender>(context ? context->input() : nullptr))
{
    geometryTimer->setSingleShot(true);
    connect(geometryTimer, &QTimer::timeout, this, &RdpRailWidget::sendGeometry);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

RdpRailWidget::~RdpRailWidget()
{
    setOwner(nullptr);
    for (RdpRailWidget *owned : qAsConst(ownedWindows)) {
        owned->ownerWindow = nullptr;
        if (QWindow *window = owned->windowHandle())
            window->setTransientParent(nullptr);
    }
    // Nothing of the session may point at a window that is gone.
    if (context->railFocusWindow == this)
        context->railFocusWindow = nullptr;
    if (context->railZOrder)
        context->railZOrder->removeAll(this);
    if (context->railWindows && context->railWindows->value(id) == this)
        context->railWindows->remove(id);
}

void RdpRailWidget::setInputSender(std::unique_ptr<RdpInputSender> sender)
{
    input = std::move(sender);
}

void RdpRailWidget::setSettingsEnabled(bool enabled)
{
    if (context->railSession)
        context->railSession->setSettingsEnabled(enabled);
}

void RdpRailWidget::setOwner(RdpRailWidget *owner)
{
    if (owner == ownerWindow || owner == this)
        return;
    if (ownerWindow)
        ownerWindow->ownedWindows.removeAll(this);
    ownerWindow = owner;
    if (owner) {
        owner->ownedWindows.append(this);
        // The window manager keeps a transient window above the window it belongs to.
        owner->winId();
        winId();
    }
    if (QWindow *window = windowHandle())
        window->setTransientParent(owner ? owner->windowHandle() : nullptr);
}

void RdpRailWidget::sendActivateOrder()
{
    RailClientContext *rail = context->railClient;
    if (!rail || !rail->ClientActivate)
        return;
    RAIL_ACTIVATE_ORDER order = {};
    order.windowId = id;
    order.enabled = TRUE;
    rail->ClientActivate(rail, &order);
}

void RdpRailWidget::sendActivate()
{
    if (OxrailClientContext *oxrail = context->oxrailClient) {
        if (oxrail->Activate)
            oxrail->Activate(oxrail, id);
        return;
    }
    sendActivateOrder();
}

void RdpRailWidget::sendRaise()
{
    if (OxrailClientContext *oxrail = context->oxrailClient) {
        if (oxrail->Raise)
            oxrail->Raise(oxrail, id);
        return;
    }
    sendActivateOrder();
}

void RdpRailWidget::sendZOrder(RdpRailWidget *above)
{
    OxrailClientContext *oxrail = context->oxrailClient;
    if (above && oxrail && oxrail->ZOrder)
        oxrail->ZOrder(oxrail, id, above->id);
}

void RdpRailWidget::sendSysCommand(ushort command)
{
    RailClientContext *rail = context->railClient;
    if (!rail || !rail->ClientSystemCommand)
        return;
    RAIL_SYSCOMMAND_ORDER order = {};
    order.windowId = id;
    order.command = command;
    rail->ClientSystemCommand(rail, &order);
}

void RdpRailWidget::sendGeometry()
{
    OxrailClientContext *oxrail = context->oxrailClient;
    // Only a normal window's place is the user's: the server sizes maximised windows itself,
    // and a report of the local maximised size would become the window's normal size there.
    if (!oxrail || !oxrail->Geometry || (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        return;
    const QRect r = railToRemoteRect(context, QRect(mapToGlobal(QPoint(0, 0)), size()));
    if (r == lastSentGeometry)
        return;
    lastSentGeometry = r;
    oxrail->Geometry(oxrail, id, r.left(), r.top(), r.right() + 1, r.bottom() + 1);
}

// A drag reports its geometry at once, when the timer fires and at the first move after that.
void RdpRailWidget::geometryChanged()
{
    if (applyingServerGeometry || geometryTimer->isActive())
        return;
    sendGeometry();
    geometryTimer->start(125);
}

void RdpRailWidget::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    geometryChanged();
}

void RdpRailWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    geometryChanged();
}

void RdpRailWidget::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    mouse->move(railToRemotePoint(context, event->globalPos()));
}

void RdpRailWidget::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    mouse->button(RdpPointerDown | rdpMouseButtonFlags(event->button()),
                  railToRemotePoint(context, event->globalPos()));
}

void RdpRailWidget::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    mouse->button(rdpMouseButtonFlags(event->button()),
                  railToRemotePoint(context, event->globalPos()));
}

void RdpRailWidget::wheelEvent(QWheelEvent *event)
{
    input->sendWheel(event);
}

void RdpRailWidget::keyPressEvent(QKeyEvent *event)
{
    input->sendKey(event, true);
}

void RdpRailWidget::keyReleaseEvent(QKeyEvent *event)
{
    input->sendKey(event, false);
}

bool RdpRailWidget::focusNextPrevChild(bool)
{
    // Tab and Shift+Tab belong to the remote program.
    return false;
}

void RdpRailWidget::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    const QVector<quint32> modifiers = localModifiersDown();
    if (!context->railFocusWindow) {
        // The focus comes from outside the session: the server learns the local lock and
        // modifier keys.
        input->sendSynchronizeEvent(localLockFlags());
        for (quint32 scanCode : modifiers) {
            const RdpKeyStroke stroke = rdpKeyStroke(scanCode, true);
            input->sendKeyboardEvent(stroke.flags, stroke.code);
        }
    }
    context->railFocusWindow = this;
    // An Alt+Tab into the window leaves Alt pressed on the server.
    for (quint32 alt : {LeftAlt, RightAlt}) {
        if (!modifiers.contains(alt)) {
            const RdpKeyStroke stroke = rdpKeyStroke(alt, false);
            input->sendKeyboardEvent(stroke.flags, stroke.code);
        }
    }
}

void RdpRailWidget::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    mouse->flush();
    // Whether the focus left the session is known once it has arrived elsewhere.
    if (context->instance)
        QMetaObject::invokeMethod(context->instance, "checkFocus",
                                  Qt::QueuedConnection);
}

void RdpRailWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QImage image = RdpDesktopWidget::framebufferImage(context);
    const QRect exposed = event->rect();
    if (image.isNull()) {
        painter.fillRect(exposed, Qt::black);
        return;
    }
    const QPoint global = mapToGlobal(exposed.topLeft());
    const QPointF origin = virtualDesktopRect().topLeft();
    const double down = context->localToRemoteScale;
    const QRectF source(global.x() * down - origin.x(), global.y() * down - origin.y(),
                        exposed.width() * down, exposed.height() * down);
    painter.drawImage(QRectF(exposed), image, source);
}

void RdpRailWidget::closeEvent(QCloseEvent *event)
{
    // The window stays until the server deletes it: the program may ask first, or refuse.
    event->ignore();
    sendSysCommand(ScClose);
}

bool RdpRailWidget::takesServerWindowState(Qt::WindowStates state)
{
    return !pendingCommand.isStale(state);
}

void RdpRailWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (isHidden())
            return;
        const Qt::WindowStates state = shownState(windowState());
        if (state == knownState)
            return; // what the server set, or already sent
        knownState = state;
        pendingCommand.sent(state);
        sendSysCommand(state == Qt::WindowMinimized   ? ScMinimize
                       : state == Qt::WindowMaximized ? ScMaximize
                                                      : ScRestore);
    } else if (event->type() == QEvent::ActivationChange) {
        // Activations that only follow the server are not echoed: the one the server asked
        // for, and any of the window the server already takes for the active one (a window
        // manager may activate windows more than once while they come up).
        if (isActiveWindow()) {
            RdpRailSession *session = context->railSession;
            if (!suppressActivate && !(session && session->isServerActive(id))) {
                sendActivate();
                if (session)
                    session->activatedLocally(id);
            } else if (session) {
                session->setServerActive(id);
            }
        }
        suppressActivate = false;
    }
}
