#pragma once

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include <memory>

class QPropertyAnimation;
class QRegion;
class RdpMouseCoalescer;
class RdpInputSender;
struct RdpContext;

// Shows the remote desktop of a desktop-mode session at the session's zoom and forwards
// local mouse and keyboard input to it. Also draws the pointer of another user who controls a
// shared session (the overlay pointer).
class RdpDesktopWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(double overlayMouseClickRadius READ overlayMouseClickRadius
                   WRITE setOverlayMouseClickRadius)
    Q_PROPERTY(QPoint overlayMousePosition READ overlayMousePosition
                   WRITE setOverlayMousePosition)

public:
    explicit RdpDesktopWidget(RdpContext *context, QWidget *parent = nullptr);
    ~RdpDesktopWidget() override;

    // Replaces where input events go (FreeRDP's input interface of the session by default).
    void setInputSender(std::unique_ptr<RdpInputSender> sender);

    double overlayMouseClickRadius() const { return clickRadius; }
    QPoint overlayMousePosition() const { return overlayPosition; }

    QSize sizeHint() const override;

    // The framebuffer of the session as an image over FreeRDP's buffer (no copy); null when
    // there is none.
    static QImage framebufferImage(const RdpContext *context);

public slots:
    void setOverlayMouseClickRadius(double rad);
    void setOverlayMousePosition(QPoint pos);
    void handleOverlayMouseEvent(QPoint pos, ulong flags);
    // Sends a key that the local system handled as a dead key (press and release).
    bool handleDeadKey(quint32 scanCode);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect overlayArea() const;
    void sendMouseEvent(quint16 flags, const QPoint &p);

    RdpContext *context;
    RdpMouseCoalescer *mouse;
    double overlayOpacity = 0.7;
    QPixmap cursorImage;
    double clickRadius = 0.0;
    QPoint overlayPosition{-1, -1};
    bool overlayPressed = false;
    QPropertyAnimation *clickAnimation;
    std::unique_ptr<RdpInputSender> input;
};

// Repaints the changed part of a session's framebuffer, given in remote coordinates, at once.
void showRegion(RdpContext *context, const QRegion &region);
