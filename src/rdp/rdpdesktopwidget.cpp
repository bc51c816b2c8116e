#include "rdp/rdpdesktopwidget.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpcoordinates.h"
#include "rdp/rdpinputsender.h"
#include "rdp/rdpkeyboard.h"
#include "rdp/rdpmouse.h"
#include "rdp/rdpmousecoalescer.h"
#include "rdp/rdprailsession.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdprailwidget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QRadialGradient>
#include <QRegion>
#include <QThread>
#include <QWheelEvent>

#include <freerdp/gdi/gdi.h>

namespace {

bool isRemoteApplication(const RdpContext *context)
{
    return context->settings()
        && freerdp_settings_get_bool(context->settings(), FreeRDP_RemoteApplicationMode);
}

// Each rootless window repaints the part of the region that lies under it on the screen.
void showRailRegion(RdpContext *context, const QRegion &region)
{
    if (!context->railSession)
        return;
    QRegion local;
    for (const QRect &r : region)
        local += railToLocalRect(context, r);
    for (RdpRailWidget *window : context->railSession->windows()) {
        if (!window->isVisible())
            continue;
        const QRect onScreen(window->mapToGlobal(QPoint(0, 0)), window->size());
        const QRegion part = local.intersected(onScreen);
        if (!part.isEmpty())
            window->repaint(part.translated(-onScreen.topLeft()));
    }
}

} // namespace

RdpDesktopWidget::RdpDesktopWidget(RdpContext *context, QWidget *parent)
    : QWidget(parent)
    , context(context)
    , mouse(new RdpMouseCoalescer(
          [this](quint16 flags, const QPoint &p) { sendMouseEvent(flags, p); }, this))
    , cursorImage(QStringLiteral(":/images/resources/cursor.png"))
    , clickAnimation(new QPropertyAnimation(this, "overlayMouseClickRadius", this))
    , input(std::make_unique<FreeRdpInputSender>(context ? context->input() : nullptr))
{
    // The framebuffer covers the whole widget; paintEvent fills what it does not cover.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

RdpDesktopWidget::~RdpDesktopWidget() = default;

void RdpDesktopWidget::setInputSender(std::unique_ptr<RdpInputSender> sender)
{
    input = std::move(sender);
}

QImage RdpDesktopWidget::framebufferImage(const RdpContext *context)
{
    const rdpGdi *gdi = context ? context->gdi() : nullptr;
    if (!gdi || !gdi->primary_buffer || gdi->width <= 0 || gdi->height <= 0)
        return QImage();
    // Read-only: painting never writes into FreeRDP's buffer.
    return QImage(static_cast<const uchar *>(gdi->primary_buffer), gdi->width, gdi->height,
                  int(gdi->stride), QImage::Format_RGB32);
}

QSize RdpDesktopWidget::sizeHint() const
{
    const rdpGdi *gdi = context->gdi();
    if (!gdi)
        return QSize();
    return toLocalRect(context, QRect(0, 0, gdi->width, gdi->height)).size();
}

void RdpDesktopWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QImage image = framebufferImage(context);
    const double down = context->localToRemoteScale;
    const QRectF target(event->rect());
    const QRectF source(target.topLeft() * down,
                        QPointF(target.x() + target.width(), target.y() + target.height()) * down);
    if (!image.isNull())
        painter.drawImage(target, image, source);

    // What the framebuffer does not cover (before the first frame or while the desktop is
    // resized) would otherwise show stale pixels.
    const QRect covered = image.isNull() ? QRect() : toLocalRect(context, image.rect());
    const QRegion uncovered = QRegion(event->rect()).subtracted(covered);
    for (const QRect &r : uncovered)
        painter.fillRect(r, Qt::black);

    if (rect().contains(overlayPosition) && overlayArea().intersects(event->rect())) {
        painter.save();
        painter.setOpacity(overlayOpacity);
        painter.setRenderHint(QPainter::Antialiasing);
        QRadialGradient gradient;
        gradient.setColorAt(0, Qt::white);
        gradient.setColorAt(1, QColor(112, 184, 255));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawEllipse(QPointF(overlayPosition), clickRadius, clickRadius);
        painter.drawPixmap(overlayPosition, cursorImage);
        painter.restore();
    }
}

QRect RdpDesktopWidget::overlayArea() const
{
    const QRectF circle(overlayPosition.x() - clickRadius, overlayPosition.y() - clickRadius,
                        2 * clickRadius, 2 * clickRadius);
    // One more pixel around: the circle's smoothed edge may reach it.
    return circle.toAlignedRect()
        .adjusted(-1, -1, 1, 1)
        .united(QRect(overlayPosition, cursorImage.size()));
}

void RdpDesktopWidget::setOverlayMouseClickRadius(double rad)
{
    if (rect().contains(overlayPosition))
        update(overlayArea());
    clickRadius = rad;
    if (rect().contains(overlayPosition))
        update(overlayArea());
}

void RdpDesktopWidget::setOverlayMousePosition(QPoint pos)
{
    if (rect().contains(overlayPosition))
        update(overlayArea());
    overlayPosition = pos;
    if (rect().contains(overlayPosition))
        update(overlayArea());
}

void RdpDesktopWidget::handleOverlayMouseEvent(QPoint pos, ulong flags)
{
    setOverlayMousePosition(pos);
    if (clickAnimation->state() == QAbstractAnimation::Running) {
        clickAnimation->stop();
        setOverlayMouseClickRadius(clickAnimation->endValue().toDouble());
    }
    if (!(flags & RdpPointerButtonMask))
        return;
    const bool down = flags & RdpPointerDown;
    if (down == overlayPressed)
        return;
    overlayPressed = down;
    clickAnimation->setDuration(100);
    clickAnimation->setStartValue(down ? 0.0 : 10.0);
    clickAnimation->setEndValue(down ? 10.0 : 0.0);
    clickAnimation->start();
}

bool RdpDesktopWidget::handleDeadKey(quint32 scanCode)
{
    for (bool down : {true, false}) {
        const RdpKeyStroke stroke = rdpKeyStroke(scanCode, down);
        input->sendKeyboardEvent(stroke.flags, stroke.code);
    }
    return true;
}

void RdpDesktopWidget::sendMouseEvent(quint16 flags, const QPoint &p)
{
    input->sendMouseEvent(flags, rdpMouseCoordinate(p.x()), rdpMouseCoordinate(p.y()));
}

void RdpDesktopWidget::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    mouse->move(toRemotePoint(context, event->pos()));
}

void RdpDesktopWidget::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    mouse->button(RdpPointerDown | rdpMouseButtonFlags(event->button()),
                  toRemotePoint(context, event->pos()));
}

void RdpDesktopWidget::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    mouse->button(rdpMouseButtonFlags(event->button()), toRemotePoint(context, event->pos()));
}

void RdpDesktopWidget::wheelEvent(QWheelEvent *event)
{
    input->sendWheel(event);
}

void RdpDesktopWidget::keyPressEvent(QKeyEvent *event)
{
    input->sendKey(event, true);
}

void RdpDesktopWidget::keyReleaseEvent(QKeyEvent *event)
{
    input->sendKey(event, false);
}

void RdpDesktopWidget::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    input->sendSynchronizeEvent(localLockFlags());
}

void RdpDesktopWidget::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    mouse->flush();
    input->sendSynchronizeEvent(0);
}

void showRegion(RdpContext *context, const QRegion &region)
{
    // Painting belongs to the GUI thread; while connecting there is no window yet anyway.
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    if (isRemoteApplication(context)) {
        showRailRegion(context, region);
        return;
    }
    if (!context->mainWidget)
        return;
    QWidget *widget = context->mainWidget->desktopWidget();
    if (!widget)
        return;
    QRegion local;
    for (const QRect &r : region)
        local += toLocalRect(context, r);
    if (!local.isEmpty())
        widget->repaint(local);
}
