#include "rdp/rdppointer.h"

#include "rdp/rdpcontext.h"
#include "windows/rdpmainwidget.h"

#include <QCursor>
#include <QPixmap>

#include <freerdp/gdi/gdi.h>

namespace {

BOOL pointerNew(rdpContext *context, rdpPointer *pointer)
{
    auto *rdpPointer = reinterpret_cast<RdpPointer *>(pointer);
    rdpPointer->cursor = nullptr;
    const QImage image = rdpPointerImage(pointer, context->gdi ? &context->gdi->palette : nullptr);
    // A shape that cannot be converted leaves the last cursor in place rather than ending the
    // connection.
    if (!image.isNull())
        rdpPointer->cursor = new QCursor(QPixmap::fromImage(image), int(pointer->xPos),
                                         int(pointer->yPos));
    return TRUE;
}

void pointerFree(rdpContext *, rdpPointer *pointer)
{
    auto *rdpPointer = reinterpret_cast<RdpPointer *>(pointer);
    delete rdpPointer->cursor;
    rdpPointer->cursor = nullptr;
}

BOOL pointerSet(rdpContext *context, const rdpPointer *pointer)
{
    const auto *rdpPointer = reinterpret_cast<const RdpPointer *>(pointer);
    RdpContext *session = RdpContext::from(context);
    if (!rdpPointer->cursor || !session->mainWidget)
        return TRUE;
    if (QWidget *widget = session->mainWidget->desktopWidget())
        widget->setCursor(*rdpPointer->cursor);
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
