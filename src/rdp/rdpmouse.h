#pragma once

#include <QPoint>
#include <QtGlobal>

// RDP pointer event flags.
enum : quint16 {
    RdpPointerWheelNegative = 0x0100,
    RdpPointerWheel = 0x0200,
    RdpPointerMove = 0x0800,
    RdpPointerButton1 = 0x1000,
    RdpPointerButton2 = 0x2000,
    RdpPointerButton3 = 0x4000,
    RdpPointerDown = 0x8000,
    RdpPointerButtonMask = 0x7000
};

// Button flag of a Qt mouse button: left 1, right 2, middle 3; 0 for any other button.
quint16 rdpMouseButtonFlags(Qt::MouseButton button);

// Flags of a wheel event with the given delta (120 per notch). Whole notches only, truncated
// toward zero; no notch gives 0. The rotation is limited to what its 9-bit field can carry.
quint16 rdpWheelFlags(int delta);

// A remote coordinate as the 16-bit wire value: negative values become 0, too large ones 65535.
quint16 rdpMouseCoordinate(int value);
