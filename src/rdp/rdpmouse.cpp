#include "rdp/rdpmouse.h"

#include <algorithm>

quint16 rdpMouseButtonFlags(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return RdpPointerButton1;
    case Qt::RightButton:
        return RdpPointerButton2;
    case Qt::MiddleButton:
        return RdpPointerButton3;
    default:
        return 0;
    }
}

quint16 rdpWheelFlags(int delta)
{
    // The rotation is a 9-bit two's-complement value (sign in the negative flag); a larger
    // count would wrap around and scroll the wrong way.
    const int steps = std::clamp(delta / 120, -255, 255);
    if (steps < 0)
        return RdpPointerWheel | RdpPointerWheelNegative | quint16(steps & 0xFF);
    if (steps > 0)
        return RdpPointerWheel | quint16(steps & 0x1FF);
    return 0;
}

quint16 rdpMouseCoordinate(int value)
{
    return quint16(std::clamp(value, 0, 0xFFFF));
}
