#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>

class QPropertyAnimation;
class QScrollArea;
class QTimer;
class RdpSharingNotification;
class RdpToolbar;
struct RdpContext;

// The window of a desktop session: the remote desktop in a scroll area, the toolbar that
// slides in from the top edge and the sharing notification at the top right. In scroll mode
// the remote desktop keeps its size; in resize mode the server is asked to fit it to the
// window. Fullscreen covers every screen with one frameless window.
class RdpMainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit RdpMainWidget(RdpContext *context, QWidget *parent = nullptr);

    void setDesktopWidget(QWidget *w);
    QWidget *desktopWidget() const;

    // Resize mode is on exactly when the toolbar's Resize button is checked.
    void setResizeMode(bool on);
    bool resizeMode() const;
    void setResizeEnabled(bool enabled);
    void setSharingEnabled(bool enabled);
    void showSharingNotification(const QString &text);

    // Sends a desktop-size request (remote pixels) to the server. Requests are made only while
    // the session has its desktop-size channel; without a sender they are only recorded.
    using DesktopSizeSender = std::function<void(int width, int height)>;
    void setDesktopSizeSender(DesktopSizeSender sender);
    // The size of the last request, (-1, -1) before the first.
    QSize lastSentDesktopSize() const { return lastSentSize; }

    // Where the toolbar and the notification sit when parked or hidden and when shown.
    QRect toolbarParkedGeometry() const;
    QRect toolbarShownGeometry() const;
    QRect notificationHiddenGeometry() const;
    QRect notificationShownGeometry() const;

public slots:
    void enterFullScreen();
    void exitFullScreen();
    void handleScaleChanged();
    void handleOverlayMouseEvent(QPoint pos, ulong flags);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private slots:
    void animateToolbarIn();
    void animateToolbarOut();
    void hideToolbar();
    void animateSharingNotificationIn();
    void animateSharingNotificationOut();
    void hideSharingNotification();
    void sharingNotificationAnimated();
    void sendSize();

private:
    bool isToolbarHidden() const;
    bool isToolbarShown() const;
    void sendSizeAndStartTimer();
    static void animate(QPropertyAnimation *animation, const QRect &from, const QRect &to);

    RdpContext *context;
    QScrollArea *scrollArea;
    RdpToolbar *toolbar;
    QPropertyAnimation *toolbarAnimation;
    QTimer *toolbarHideTimer;
    RdpSharingNotification *notification;
    QPropertyAnimation *notificationAnimation;
    QTimer *notificationHideTimer;
    bool firstShow = true;
    Qt::WindowFlags savedWindowFlags;
    QRect savedGeometry;
    QTimer *sizeTimer;
    QSize lastSentSize{-1, -1};
    DesktopSizeSender sizeSender;
};
