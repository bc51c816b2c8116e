#pragma once

#include <QtGlobal>

#include <memory>

class QKeyEvent;
class QWheelEvent;
struct rdp_input;

// Where a session's input events go. The widgets talk to this interface only, so the
// events can be recorded without a connection.
class RdpInputSender
{
public:
    virtual ~RdpInputSender();

    virtual void sendKeyboardEvent(quint16 flags, quint16 code) = 0;
    virtual void sendMouseEvent(quint16 flags, quint16 x, quint16 y) = 0;
    virtual void sendSynchronizeEvent(quint32 flags) = 0;

    // A local key press or release as RDP key strokes, and a wheel turn; both accept the event.
    void sendKey(QKeyEvent *event, bool down);
    void sendWheel(QWheelEvent *event);
};

// Sends through FreeRDP's input interface of a session; does nothing without one.
class FreeRdpInputSender : public RdpInputSender
{
public:
    explicit FreeRdpInputSender(rdp_input *input);

    void sendKeyboardEvent(quint16 flags, quint16 code) override;
    void sendMouseEvent(quint16 flags, quint16 x, quint16 y) override;
    void sendSynchronizeEvent(quint32 flags) override;

private:
    rdp_input *input;
};
