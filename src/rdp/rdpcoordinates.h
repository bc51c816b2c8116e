#pragma once

#include <QPoint>
#include <QRect>

struct RdpContext;

// Conversions between local (widget or screen) and remote (session) pixels. up is the
// session's remoteToLocalScale, down its localToRemoteScale (up × down = 1). Rectangles have
// inclusive corners; fractions are rounded down.

QPoint toLocalPoint(double up, const QPoint &p);
QPoint toRemotePoint(double down, const QPoint &p);
QRect toLocalRect(double up, const QRect &r);
QRect toRemoteRect(double down, const QRect &r);

// The same with the zoom of a session.
QPoint toLocalPoint(const RdpContext *context, const QPoint &p);
QPoint toRemotePoint(const RdpContext *context, const QPoint &p);
QRect toLocalRect(const RdpContext *context, const QRect &r);
QRect toRemoteRect(const RdpContext *context, const QRect &r);

// The area of all local screens (the primary screen's when the screens do not form one
// virtual desktop); its top-left corner is the origin of rootless coordinates.
QRect virtualDesktopRect();

// The remote desktop of rootless and full-screen sessions: the virtual desktop in remote
// pixels, with its origin at 0,0.
QRect remoteDesktopRect(const RdpContext *context);

// Rootless windows: remote rectangles and points are relative to the virtual desktop's origin.
QRect railToLocalRect(const RdpContext *context, const QRect &r);
QRect railToRemoteRect(const RdpContext *context, const QRect &r);
QPoint railToRemotePoint(const RdpContext *context, const QPoint &p);
