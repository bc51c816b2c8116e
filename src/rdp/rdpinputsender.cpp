#include "rdp/rdpinputsender.h"

#include <freerdp/input.h>

RdpInputSender::~RdpInputSender() = default;

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
