#include "windows/rdpmainwidget.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpcoordinates.h"
#include "windows/rdpsessionobjects.h"
#include "windows/rdpsharingnotification.h"
#include "windows/rdptoolbar.h"

#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWindowStateChangeEvent>

RdpMainWidget::RdpMainWidget(RdpContext *context, QWidget *parent)
    : QWidget(parent)
    , context(context)
{
    setObjectName(QStringLiteral("RdpMainWidget"));
    resize(400, 300);
    auto *grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    grid->setSpacing(0);
    grid->setContentsMargins(0, 0, 0, 0);
    scrollArea = new QScrollArea(this);
    scrollArea->setObjectName(QStringLiteral("ScrollArea"));
    scrollArea->setFocusPolicy(Qt::ClickFocus);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setFrameShadow(QFrame::Plain);
    scrollArea->setLineWidth(0);
    scrollArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *contents = new QWidget();
    contents->setObjectName(QStringLiteral("ScrollAreaWidgetContents"));
    contents->setGeometry(0, 0, 400, 300);
    scrollArea->setWidget(contents);
    grid->addWidget(scrollArea, 0, 0);

    scrollArea->horizontalScrollBar()->installEventFilter(this);
    scrollArea->verticalScrollBar()->installEventFilter(this);

    toolbar = new RdpToolbar(context, this);
    toolbar->installEventFilter(this);
    toolbar->setAutoFillBackground(true);
    toolbar->setMouseTracking(true);
    toolbar->show();
    connect(toolbar, &RdpToolbar::buttonClicked, this, &RdpMainWidget::animateToolbarOut);
    toolbarAnimation = new QPropertyAnimation(toolbar, "geometry", this);
    toolbarAnimation->setDuration(200);
    toolbarHideTimer = new QTimer(this);
    toolbarHideTimer->setSingleShot(true);
    toolbarHideTimer->setInterval(5000);
    connect(toolbarHideTimer, &QTimer::timeout, this, &RdpMainWidget::animateToolbarOut);

    notification = new RdpSharingNotification(this);
    notification->installEventFilter(this);
    notification->setMouseTracking(true);
    notification->show();
    notificationAnimation = new QPropertyAnimation(notification, "geometry", this);
    notificationAnimation->setDuration(200);
    connect(notificationAnimation, &QPropertyAnimation::finished, this,
            &RdpMainWidget::sharingNotificationAnimated);
    notificationHideTimer = new QTimer(this);
    notificationHideTimer->setSingleShot(true);
    notificationHideTimer->setInterval(5000);
    connect(notificationHideTimer, &QTimer::timeout, this,
            &RdpMainWidget::animateSharingNotificationOut);

    sizeTimer = new QTimer(this);
    sizeTimer->setSingleShot(true);
    connect(sizeTimer, &QTimer::timeout, this, &RdpMainWidget::sendSize);

    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::setDesktopWidget(QWidget *w)
{
    if (QWidget *previous = scrollArea->widget())
        previous->removeEventFilter(this);
    if (!w)
        return;
    scrollArea->setWidget(w);
    // Let the window take the size that shows the whole desktop, then let it shrink freely.
    const QSize hint = w->sizeHint();
    if (hint.isValid()) {
        scrollArea->setMinimumSize(hint);
        scrollArea->setMaximumSize(hint);
        layout()->activate();
        scrollArea->setMinimumSize(0, 0);
        scrollArea->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    w->installEventFilter(this);
    w->setFocus(Qt::OtherFocusReason);
}

QWidget *RdpMainWidget::desktopWidget() const
{
    return scrollArea->widget();
}

void RdpMainWidget::setResizeMode(bool on)
{
    toolbar->setResizeChecked(on);
    if (on && !sizeTimer->isActive())
        sendSizeAndStartTimer();
}

bool RdpMainWidget::resizeMode() const
{
    return toolbar->isResizeChecked();
}

void RdpMainWidget::setResizeEnabled(bool enabled)
{
    toolbar->setResizeEnabled(enabled);
}

void RdpMainWidget::setSharingEnabled(bool enabled)
{
    toolbar->setSharingEnabled(enabled);
}

void RdpMainWidget::showSharingNotification(const QString &text)
{
    notification->setText(text);
    animateSharingNotificationIn();
}

void RdpMainWidget::setDesktopSizeSender(DesktopSizeSender sender)
{
    sizeSender = std::move(sender);
}

void RdpMainWidget::sendSizeAndStartTimer()
{
    sendSize();
    sizeTimer->start(500);
}

void RdpMainWidget::sendSize()
{
    QSize size = scrollArea->size();
    if (const QWidget *w = scrollArea->widget())
        size = size.expandedTo(w->minimumSize()).boundedTo(w->maximumSize());
    const QSize requested = toRemoteRect(context, QRect(QPoint(0, 0), size)).size();
    if (requested == lastSentSize)
        return;
    lastSentSize = requested;
    if (context->oxdeskClient && sizeSender)
        sizeSender(requested.width(), requested.height());
}

QRect RdpMainWidget::toolbarParkedGeometry() const
{
    QRect r = toolbar->geometry();
    r.moveCenter(rect().center());
    r.moveBottom(2);
    return r;
}

QRect RdpMainWidget::toolbarShownGeometry() const
{
    QRect r = toolbar->geometry();
    r.moveCenter(rect().center());
    r.moveBottom(r.height());
    return r;
}

QRect RdpMainWidget::notificationHiddenGeometry() const
{
    QRect r = notification->geometry();
    r.moveRight(rect().right() - 1);
    r.moveBottom(-1);
    return r;
}

QRect RdpMainWidget::notificationShownGeometry() const
{
    QRect r = notification->geometry();
    r.moveRight(rect().right() - 1);
    r.moveBottom(r.height());
    return r;
}

bool RdpMainWidget::isToolbarHidden() const
{
    return toolbar->geometry() == toolbarParkedGeometry();
}

bool RdpMainWidget::isToolbarShown() const
{
    return toolbar->geometry() == toolbarShownGeometry();
}

void RdpMainWidget::animate(QPropertyAnimation *animation, const QRect &from, const QRect &to)
{
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setCurrentTime(0);
    animation->start();
}

void RdpMainWidget::hideToolbar()
{
    toolbarAnimation->stop();
    toolbarHideTimer->stop();
    toolbar->setGeometry(toolbarParkedGeometry());
}

void RdpMainWidget::animateToolbarIn()
{
    toolbarAnimation->stop();
    toolbarHideTimer->stop();
    animate(toolbarAnimation, toolbarParkedGeometry(), toolbarShownGeometry());
}

void RdpMainWidget::animateToolbarOut()
{
    toolbarAnimation->stop();
    toolbarHideTimer->stop();
    animate(toolbarAnimation, toolbarShownGeometry(), toolbarParkedGeometry());
}

void RdpMainWidget::hideSharingNotification()
{
    notificationAnimation->stop();
    notificationHideTimer->stop();
    notification->setGeometry(notificationHiddenGeometry());
}

void RdpMainWidget::animateSharingNotificationIn()
{
    notificationAnimation->stop();
    notificationHideTimer->stop();
    animate(notificationAnimation, notificationHiddenGeometry(), notificationShownGeometry());
}

void RdpMainWidget::animateSharingNotificationOut()
{
    notificationAnimation->stop();
    notificationHideTimer->stop();
    animate(notificationAnimation, notificationShownGeometry(), notificationHiddenGeometry());
}

void RdpMainWidget::sharingNotificationAnimated()
{
    if (notification->geometry() != notificationHiddenGeometry())
        notificationHideTimer->start(5000);
}

bool RdpMainWidget::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == scrollArea->horizontalScrollBar() || watched == scrollArea->verticalScrollBar()
        || watched == scrollArea->widget()) {
        if ((type == QEvent::MouseButtonPress || type == QEvent::KeyPress
             || type == QEvent::Wheel)
            && isToolbarShown()) {
            toolbarHideTimer->stop();
            animateToolbarOut();
        }
    } else if (watched == toolbar) {
        if (type == QEvent::Enter) {
            if (isToolbarHidden())
                animateToolbarIn();
            toolbarHideTimer->stop();
        } else if (type == QEvent::Leave) {
            toolbarHideTimer->start(5000);
        }
    } else if (watched == notification && type == QEvent::MouseButtonPress) {
        if (QDialog *dialog = sessionSharingDialog(context))
            dialog->open();
        hideSharingNotification();
    }
    return QWidget::eventFilter(watched, event);
}

void RdpMainWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!firstShow)
        return;
    firstShow = false;
    animateToolbarIn();
    toolbarHideTimer->start(5000);
}

void RdpMainWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (resizeMode() && !sizeTimer->isActive())
        sendSizeAndStartTimer();
    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    requestSessionQuit(context);
}

void RdpMainWidget::changeEvent(QEvent *event)
{
    if (event->type() != QEvent::WindowStateChange) {
        QWidget::changeEvent(event);
        return;
    }
    const Qt::WindowStates oldState = static_cast<QWindowStateChangeEvent *>(event)->oldState();
    if (windowState() & Qt::WindowFullScreen)
        toolbar->setFullscreenChecked(true);
    else if (oldState == Qt::WindowFullScreen)
        toolbar->setFullscreenChecked(false);
    else
        return;
    if (resizeMode())
        sendSize();
    hideToolbar();
    hideSharingNotification();
}

bool RdpMainWidget::focusNextPrevChild(bool)
{
    // Tab and Shift+Tab belong to the remote session.
    return false;
}

void RdpMainWidget::enterFullScreen()
{
    if (savedWindowFlags != Qt::WindowFlags())
        return;
    savedWindowFlags = windowFlags();
    savedGeometry = geometry();
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setGeometry(virtualDesktopRect());
    show();
    toolbar->setFullscreenChecked(true);
    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::exitFullScreen()
{
    if (savedWindowFlags == Qt::WindowFlags())
        return;
    setWindowFlags(savedWindowFlags);
    setGeometry(savedGeometry);
    show();
    savedGeometry = QRect();
    savedWindowFlags = Qt::WindowFlags();
    toolbar->setFullscreenChecked(false);
    hideToolbar();
    hideSharingNotification();
}

void RdpMainWidget::handleScaleChanged()
{
    if (QWidget *w = scrollArea->widget()) {
        const rdpSettings *settings = context->settings();
        const int width = settings
            ? int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopWidth)) : 0;
        const int height = settings
            ? int(freerdp_settings_get_uint32(settings, FreeRDP_DesktopHeight)) : 0;
        w->resize(toLocalRect(context, QRect(QPoint(0, 0), QPoint(width - 1, height - 1))).size());
    }
    if (resizeMode())
        sendSize();
}

void RdpMainWidget::handleOverlayMouseEvent(QPoint pos, ulong flags)
{
    if (QWidget *w = scrollArea->widget())
        QMetaObject::invokeMethod(w, "handleOverlayMouseEvent", Q_ARG(QPoint, pos),
                                  Q_ARG(ulong, flags));
}
