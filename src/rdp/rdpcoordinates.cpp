#include "rdp/rdpcoordinates.h"

#include "rdp/rdpcontext.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

int scaled(int value, double scale)
{
    return int(std::floor(value * scale));
}

// A rectangle scaled up keeps every pixel of the scaled one: its far edges are those of the
// pixel past the corner, less one.
QRect scaledUp(double scale, const QRect &r)
{
    return QRect(QPoint(scaled(r.left(), scale), scaled(r.top(), scale)),
                 QPoint(scaled(r.right() + 1, scale) - 1, scaled(r.bottom() + 1, scale) - 1));
}

} // namespace

QPoint toLocalPoint(double up, const QPoint &p)
{
    return QPoint(scaled(p.x(), up), scaled(p.y(), up));
}

QPoint toRemotePoint(double down, const QPoint &p)
{
    return QPoint(scaled(p.x(), down), scaled(p.y(), down));
}

QRect toLocalRect(double up, const QRect &r)
{
    if (up < 1.0)
        return QRect(QPoint(scaled(r.left(), up), scaled(r.top(), up)),
                     QPoint(scaled(r.right(), up), scaled(r.bottom(), up)));
    if (up > 1.0)
        return scaledUp(up, r);
    return r;
}

QRect toRemoteRect(double down, const QRect &r)
{
    if (down < 1.0)
        return QRect(QPoint(scaled(r.left(), down), scaled(r.top(), down)),
                     QPoint(scaled(r.right() - 1, down), scaled(r.bottom() - 1, down)));
    if (down > 1.0)
        return scaledUp(down, r);
    return r;
}

QPoint toLocalPoint(const RdpContext *context, const QPoint &p)
{
    return toLocalPoint(context->remoteToLocalScale, p);
}

QPoint toRemotePoint(const RdpContext *context, const QPoint &p)
{
    return toRemotePoint(context->localToRemoteScale, p);
}

QRect toLocalRect(const RdpContext *context, const QRect &r)
{
    return toLocalRect(context->remoteToLocalScale, r);
}

QRect toRemoteRect(const RdpContext *context, const QRect &r)
{
    return toRemoteRect(context->localToRemoteScale, r);
}

QRect virtualDesktopRect()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return QRect();
    // The virtual geometry is the union of the screens that form one desktop with the primary
    // screen, or the primary screen's own geometry when it stands alone.
    return primary->virtualGeometry();
}

QRect remoteDesktopRect(const RdpContext *context)
{
    const QRect desktop = virtualDesktopRect();
    return toRemoteRect(context, desktop).translated(-desktop.topLeft());
}

QRect railToLocalRect(const RdpContext *context, const QRect &r)
{
    return toLocalRect(context, r).translated(virtualDesktopRect().topLeft());
}

QRect railToRemoteRect(const RdpContext *context, const QRect &r)
{
    return toRemoteRect(context, r).translated(-virtualDesktopRect().topLeft());
}

QPoint railToRemotePoint(const RdpContext *context, const QPoint &p)
{
    return toRemotePoint(context, p) - virtualDesktopRect().topLeft();
}
