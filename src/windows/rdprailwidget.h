#pragma once

#include "rdp/rdppendinganswer.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <memory>

class QTimer;
class RdpInputSender;
class RdpMouseCoalescer;
struct RdpContext;

// One application window of a rootless session as a local top-level window. It paints its part
// of the session's framebuffer, forwards mouse and keyboard input, and reports its moves,
// resizes, activation, stacking and window commands (minimise, maximise, restore, close) back
// to the server. The session's RdpRailSession creates, updates and deletes these windows from
// the server's window orders.
class RdpRailWidget : public QWidget
{
    Q_OBJECT

public:
    RdpRailWidget(RdpContext *context, quint32 windowId, QWidget *parent = nullptr,
                  Qt::WindowFlags flags = Qt::WindowFlags());
    ~RdpRailWidget() override;

    quint32 windowId() const { return id; }

    // Replaces where input events go (FreeRDP's input interface of the session by default).
    void setInputSender(std::unique_ptr<RdpInputSender> sender);

    // The server activated this window: the local activation that follows is not echoed.
    void setSuppressActivate(bool suppress) { suppressActivate = suppress; }
    // True while the local window manager, not the server, chose the window's position.
    void setPlacementPending(bool pending) { placementPending = pending; }
    bool isPlacementPending() const { return placementPending; }
    // Moves and resizes are not reported while the window applies the server's geometry.
    void setApplyingServerGeometry(bool applying) { applyingServerGeometry = applying; }
    void setRequestedPosition(int x, int y) { requested = QPoint(x, y); }
    QPoint requestedPosition() const { return requested; }
    // Enables or greys the session's "Settings" entry.
    void setSettingsEnabled(bool enabled);
    // The owner relation of the window orders; an owned window is kept above its owner.
    void setOwner(RdpRailWidget *owner);
    RdpRailWidget *owner() const { return ownerWindow; }
    // The server's geometry was applied: an equal report is not sent back.
    void setServerGeometry(const QRect &remote) { lastSentGeometry = remote; }
    // The show state the server last set (remembered so that applying it is not echoed).
    void setServerWindowState(Qt::WindowStates state) { knownState = state; }
    // Whether a show state from the server is to be applied: not while a window command of
    // ours is on its way and the server still reports the state from before it.
    bool takesServerWindowState(Qt::WindowStates state);

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
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private slots:
    void sendActivate();
    void sendRaise();
    void sendSysCommand(ushort command);
    void sendZOrder(RdpRailWidget *above);
    void sendGeometry();

private:
    friend class RdpRailSession; // reports stacking changes through the slots above

    void geometryChanged();
    void sendActivateOrder();

    RdpContext *context;
    quint32 id;
    bool suppressActivate = false;
    bool placementPending = true;
    bool applyingServerGeometry = false;
    QPoint requested;
    RdpRailWidget *ownerWindow = nullptr;
    QList<RdpRailWidget *> ownedWindows;
    RdpMouseCoalescer *mouse;
    QTimer *geometryTimer;
    QRect lastSentGeometry;
    Qt::WindowStates knownState = Qt::WindowNoState;
    RdpPendingAnswer<Qt::WindowStates> pendingCommand;
    std::unique_ptr<RdpInputSender> input;
};
