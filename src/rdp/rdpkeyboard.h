#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// RDP keyboard and synchronize event flags.
enum : quint16 {
    RdpKeyExtended = 0x0100,
    RdpKeyDown = 0x4000,
    RdpKeyRelease = 0x8000
};

enum : quint32 {
    RdpSyncScrollLock = 1,
    RdpSyncNumLock = 2,
    RdpSyncCapsLock = 4,
    RdpSyncKanaLock = 8
};

// One keyboard event as it goes on the wire: flags and the low byte of the scan code.
struct RdpKeyStroke
{
    quint16 flags = 0;
    quint16 code = 0;
    bool operator==(const RdpKeyStroke &other) const
    {
        return flags == other.flags && code == other.code;
    }
};

// Loads FreeRDP's keyboard tables for a layout (0 detects the local layout) and returns the
// layout id in use. Call once before a connection; later calls load the tables again.
quint32 initRdpKeyboard(quint32 layoutId = 0);

// The RDP scan code (extended keys with bit 0x100) of an X11 key code through FreeRDP's
// tables; loads the detected layout first if nothing was loaded. 0 for unknown key codes.
quint32 rdpScanCodeFromX11KeyCode(quint32 keyCode);

// The scan code that is sent for a translated one: Num Lock and right Shift lose the extended
// bit, everything else goes as it is. 0 means "send nothing".
quint32 rdpScanCodeToSend(quint32 scanCode);

// The keyboard event of one scan code going down or up.
RdpKeyStroke rdpKeyStroke(quint32 scanCode, bool down);

// The keyboard events of one local key event given by its X11 key code. On X11, AltGr is a
// key of its own and no Control is made up for it, and dead keys come as ordinary keys.
// A held key repeats as presses only, like a real keyboard does, so the releases of
// auto-repeat pairs are dropped.
QVector<RdpKeyStroke> rdpKeyStrokesForX11Key(quint32 keyCode, bool down, bool autoRepeat);

// Synchronize flags of the lock keys that are on at the given X display; 0 when the display
// cannot be opened.
quint32 x11LockFlags(const QByteArray &displayName);

// Synchronize flags of the local lock keys: from the X display when the application runs on
// one (asked over one connection kept for the life of the application), else 0.
quint32 localLockFlags();

// The modifier keys that are down now, as RDP scan codes (extended keys with bit 0x100), in the
// order left and right Control, left and right Shift, left and right Alt. Read from the X
// display the application runs on (the connection of localLockFlags()); empty without one.
QVector<quint32> localModifiersDown();
