#pragma once

#include <QImage>

#include <freerdp/codec/color.h>
#include <freerdp/graphics.h>

class QCursor;
struct RdpContext;

// FreeRDP's pointer record with the local shape made from it. The cursor is made on first use
// on the GUI thread (FreeRDP may create pointers while it connects, on the worker thread).
struct RdpPointer
{
    rdpPointer pointer; // FreeRDP's part; must stay first
    QImage *image;
    QCursor *cursor;
};

// Registers the pointer class of a session: new shapes become cursors of the desktop widget.
// A shape set from another thread than the GUI thread, or while there is no desktop widget
// (the server sends one while the connection is being made), waits for
// applyLastRdpPointer().
void registerRdpPointer(rdpGraphics *graphics);

// Gives a new desktop widget the last shape the server set.
void applyLastRdpPointer(RdpContext *context);

// The shape of a pointer as an ARGB image; null when its masks cannot be converted. 8-bit
// shapes need the session's palette.
QImage rdpPointerImage(const rdpPointer *pointer, const gdiPalette *palette = nullptr);
