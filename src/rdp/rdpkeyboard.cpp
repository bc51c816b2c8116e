#include "rdp/rdpkeyboard.h"

#include <QGuiApplication>

#include <freerdp/locale/keyboard.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

bool keyboardLoaded = false;

}

quint32 initRdpKeyboard(quint32 layoutId)
{
    keyboardLoaded = true;
    return freerdp_keyboard_init(layoutId);
}

quint32 rdpScanCodeFromX11KeyCode(quint32 keyCode)
{
    // FreeRDP's table has 256 entries and does not check the index.
    if (keyCode == 0 || keyCode > 255)
        return 0;
    if (!keyboardLoaded)
        initRdpKeyboard(0);
    return freerdp_keyboard_get_rdp_scancode_from_x11_keycode(keyCode);
}

quint32 rdpScanCodeToSend(quint32 scanCode)
{
    switch (scanCode) {
    case 0x145: // Num Lock
        return 0x45;
    case 0x136: // right Shift
        return 0x36;
    default:
        return scanCode;
    }
}

RdpKeyStroke rdpKeyStroke(quint32 scanCode, bool down)
{
    RdpKeyStroke stroke;
    stroke.flags = down ? RdpKeyDown : RdpKeyRelease;
    if (scanCode & 0x100)
        stroke.flags |= RdpKeyExtended;
    stroke.code = quint16(scanCode & 0xFF);
    return stroke;
}

QVector<RdpKeyStroke> rdpKeyStrokesForX11Key(quint32 keyCode, bool down, bool autoRepeat)
{
    QVector<RdpKeyStroke> strokes;
    if (autoRepeat && !down)
        return strokes;
    const quint32 scanCode = rdpScanCodeToSend(rdpScanCodeFromX11KeyCode(keyCode));
    if (scanCode != 0)
        strokes.append(rdpKeyStroke(scanCode, down));
    return strokes;
}

namespace {

quint32 lockFlagsOf(Display *display)
{
    static const struct
    {
        const char *name;
        quint32 flag;
    } indicators[] = {
        {"Scroll Lock", RdpSyncScrollLock},
        {"Num Lock", RdpSyncNumLock},
        {"Caps Lock", RdpSyncCapsLock},
        {"Kana", RdpSyncKanaLock},
    };
    quint32 flags = 0;
    for (const auto &indicator : indicators) {
        const Atom atom = XInternAtom(display, indicator.name, True);
        Bool on = False;
        if (atom != None
            && XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)
            && on)
            flags |= indicator.flag;
    }
    return flags;
}

// The connection localLockFlags() asks on: opened on first use and kept, so that a focus
// change costs a few requests, not a connection.
Display *lockStateDisplay = nullptr;

void closeLockStateDisplay()
{
    if (lockStateDisplay)
        XCloseDisplay(lockStateDisplay);
    lockStateDisplay = nullptr;
}

} // namespace

quint32 x11LockFlags(const QByteArray &displayName)
{
    if (displayName.isEmpty())
        return 0;
    Display *display = XOpenDisplay(displayName.constData());
    if (!display)
        return 0;
    const quint32 flags = lockFlagsOf(display);
    XCloseDisplay(display);
    return flags;
}

namespace {

Display *localDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    static bool opened = false;
    if (!opened) {
        opened = true;
        const QByteArray name = qgetenv("DISPLAY");
        lockStateDisplay = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
        if (lockStateDisplay)
            qAddPostRoutine(closeLockStateDisplay);
    }
    return lockStateDisplay;
}

} // namespace

quint32 localLockFlags()
{
    Display *display = localDisplay();
    return display ? lockFlagsOf(display) : 0;
}

QVector<quint32> localModifiersDown()
{
    QVector<quint32> down;
    Display *display = localDisplay();
    if (!display)
        return down;
    char keys[32];
    XQueryKeymap(display, keys);
    // Through the table from key codes to scan codes: several key codes may give the same
    // scan code, so the table the other way round does not name every key.
    QVector<quint32> pressed;
    for (quint32 keyCode = 8; keyCode < 256; ++keyCode) {
        if (keys[keyCode / 8] & (1 << (keyCode % 8)))
            pressed.append(rdpScanCodeToSend(rdpScanCodeFromX11KeyCode(keyCode)));
    }
    for (quint32 scanCode : {0x1Du, 0x11Du, 0x2Au, 0x36u, 0x38u, 0x138u}) {
        if (pressed.contains(scanCode))
            down.append(scanCode);
    }
    return down;
}
