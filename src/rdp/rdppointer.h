#pragma once

#include <QImage>

#include <freerdp/codec/color.h>
#include <freerdp/graphics.h>

class QCursor;

// FreeRDP's pointer record with the local shape made from it. The cursor is made on first use
// on the GUI thread (FreeRDP may create pointers while it connects, on the worker thread).
struct RdpPointer
{
    rdpPointer pointer; // FreeRDP's part; must stay first
    QImage *image;
    QCursor *cursor;
};

// Registers the pointer class of a session: new shapes become cursors of the desktop widget.
// Shapes set from another thread than the GUI thread are ignored.
void registerRdpPointer(rdpGraphics *graphics);

// The shape of a pointer as an ARGB image; null when its masks cannot be converted. 8-bit
// shapes need the session's palette.
QImage rdpPointerImage(const rdpPointer *pointer, const gdiPalette *palette = nullptr);
