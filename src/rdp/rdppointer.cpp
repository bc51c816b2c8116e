#include "rdp/rdppointer.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdprailsession.h"
#include "windows/rdpmainwidget.h"
#include "windows/rdprailwidget.h"

#include <QCoreApplication>
#include <QCursor>
#include <QPixmap>
#include <QThread>

#include <freerdp/gdi/gdi.h>

namespace {

BOOL pointerNew(rdpContext *context, rdpPointer *pointer)
{
    auto *shape = reinterpret_cast<RdpPointer *>(pointer);
    shape->image = nullptr;
    shape->cursor = nullptr;
    const gdiPalette *palette = context->gdi ? &context->gdi->palette : nullptr;
    const QImage image = rdpPointerImage(pointer, palette);
    // A shape that cannot be converted leaves the last cursor in place rather than ending the
    // connection.
    if (!image.isNull())
        shape->image = new QImage(image);
    return TRUE;
}

void pointerFree(rdpContext *context, rdpPointer *pointer)
{
    RdpContext *session = RdpContext::from(context);
    if (session->lastPointer == pointer)
        session->lastPointer = nullptr;
    auto *shape = reinterpret_cast<RdpPointer *>(pointer);
    delete shape->cursor;
    shape->cursor = nullptr;
    delete shape->image;
    shape->image = nullptr;
}

BOOL pointerSet(rdpContext *context, const rdpPointer *pointer)
{
    // FreeRDP hands over a const record; the cursor is a cache of it.
    auto *shape = reinterpret_cast<RdpPointer *>(const_cast<rdpPointer *>(pointer));
    RdpContext *session = RdpContext::from(context);
    session->lastPointer = const_cast<rdpPointer *>(pointer);
    const QCoreApplication *app = QCoreApplication::instance();
    if (!shape->image || !app || QThread::currentThread() != app->thread())
        return TRUE;
    // The desktop widget, or every window of a rootless session.
    QList<QWidget *> widgets;
    if (session->mainWidget && session->mainWidget->desktopWidget())
        widgets << session->mainWidget->desktopWidget();
    if (session->railSession) {
        for (RdpRailWidget *window : session->railSession->windows())
            widgets << window;
    }
    if (widgets.isEmpty())
        return TRUE;
    if (!shape->cursor)
        shape->cursor = new QCursor(QPixmap::fromImage(*shape->image), int(pointer->xPos),
                                    int(pointer->yPos));
    for (QWidget *widget : qAsConst(widgets))
        widget->setCursor(*shape->cursor);
    return TRUE;
}

BOOL pointerKeep(rdpContext *)
{
    return TRUE;
}

BOOL pointerSetPosition(rdpContext *, UINT32, UINT32)
{
    return TRUE;
}

} // namespace

void registerRdpPointer(rdpGraphics *graphics)
{
    rdpPointer pointer = {};
    pointer.size = sizeof(RdpPointer);
    pointer.New = pointerNew;
    pointer.Free = pointerFree;
    pointer.Set = pointerSet;
    pointer.SetNull = pointerKeep;
    pointer.SetDefault = pointerKeep;
    pointer.SetPosition = pointerSetPosition;
    graphics_register_pointer(graphics, &pointer);
}

void applyLastRdpPointer(RdpContext *context)
{
    if (context && context->lastPointer)
        pointerSet(context->rdp(), context->lastPointer);
}

QImage rdpPointerImage(const rdpPointer *pointer, const gdiPalette *palette)
{
    if (pointer->width == 0 || pointer->height == 0 || pointer->width > 384
        || pointer->height > 384)
        return QImage();
    QImage image(int(pointer->width), int(pointer->height), QImage::Format_ARGB32);
    if (image.isNull())
        return QImage();
    // BGRA in memory is what ARGB32 holds on a little-endian machine.
    if (!freerdp_image_copy_from_pointer_data(
            image.bits(), PIXEL_FORMAT_BGRA32, UINT32(image.bytesPerLine()), 0, 0,
            pointer->width, pointer->height, pointer->xorMaskData, pointer->lengthXorMask,
            pointer->andMaskData, pointer->lengthAndMask, pointer->xorBpp, palette))
        return QImage();
    return image;
}
