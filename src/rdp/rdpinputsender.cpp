#include "rdp/rdpinputsender.h"

#include "rdp/rdpkeyboard.h"
#include "rdp/rdpmouse.h"

#include <QKeyEvent>
#include <QWheelEvent>

#include <freerdp/input.h>

RdpInputSender::~RdpInputSender() = default;

void RdpInputSender::sendKey(QKeyEvent *event, bool down)
{
    event->accept();
    const auto strokes = rdpKeyStrokesForX11Key(event->nativeScanCode(), down, event->isAutoRepeat());
    for (const RdpKeyStroke &stroke : strokes)
        sendKeyboardEvent(stroke.flags, stroke.code);
}

void RdpInputSender::sendWheel(QWheelEvent *event)
{
    event->accept();
    sendMouseEvent(rdpWheelFlags(event->angleDelta().y()), 0, 0);
}

FreeRdpInputSender::FreeRdpInputSender(rdp_input *input)
    : input(input)
{
}

void FreeRdpInputSender::sendKeyboardEvent(quint16 flags, quint16 code)
{
    if (input)
        freerdp_input_send_keyboard_event(input, flags, code);
}

void FreeRdpInputSender::sendMouseEvent(quint16 flags, quint16 x, quint16 y)
{
    if (input)
        freerdp_input_send_mouse_event(input, flags, x, y);
}

void FreeRdpInputSender::sendSynchronizeEvent(quint32 flags)
{
    if (input)
        freerdp_input_send_synchronize_event(input, flags);
}
