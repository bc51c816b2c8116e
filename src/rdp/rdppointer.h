#pragma once

#include <QImage>

#include <freerdp/codec/color.h>
#include <freerdp/graphics.h>

class QCursor;

// FreeRDP's pointer record with the local cursor made from it.
struct RdpPointer
{
    rdpPointer pointer; // FreeRDP's part; must stay first
    QCursor *cursor;
};

// Registers the pointer class of a session: new shapes become cursors of the desktop widget.
void registerRdpPointer(rdpGraphics *graphics);

// The shape of a pointer as an ARGB image; null when its masks cannot be converted. 8-bit
// shapes need the session's palette.
QImage rdpPointerImage(const rdpPointer *pointer, const gdiPalette *palette = nullptr);
