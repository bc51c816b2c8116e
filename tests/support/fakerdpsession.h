#pragma once

#include "rdp/rdpcontext.h"
#include "rdp/rdpinputsender.h"

#include <QImage>
#include <QList>
#include <QVector>

#include <freerdp/gdi/gdi.h>

#include <memory>

// One input event as a session would have sent it.
struct SentInput
{
    enum Kind { Keyboard, Mouse, Synchronize };
    Kind kind;
    quint32 flags;
    quint16 a; // key code, or x
    quint16 b; // y
    bool operator==(const SentInput &o) const
    {
        return kind == o.kind && flags == o.flags && a == o.a && b == o.b;
    }
};

inline SentInput keyInput(quint32 flags, quint16 code) { return {SentInput::Keyboard, flags, code, 0}; }
inline SentInput mouseInput(quint32 flags, quint16 x, quint16 y) { return {SentInput::Mouse, flags, x, y}; }

// Records input events into a list the test keeps.
class RecordingInputSender : public RdpInputSender
{
public:
    explicit RecordingInputSender(QList<SentInput> *log) : log(log) {}
    void sendKeyboardEvent(quint16 flags, quint16 code) override { log->append(keyInput(flags, code)); }
    void sendMouseEvent(quint16 flags, quint16 x, quint16 y) override
    {
        log->append(mouseInput(flags, x, y));
    }
    void sendSynchronizeEvent(quint32 flags) override { log->append({SentInput::Synchronize, flags, 0, 0}); }

private:
    QList<SentInput> *log;
};

// A session context without a connection: a zoom, and optionally a framebuffer the test fills
// in place of FreeRDP's GDI.
struct FakeRdpSession
{
    RdpContext context{};
    rdpGdi gdi{};
    QImage framebuffer;
    QList<SentInput> sent;

    explicit FakeRdpSession(double zoom = 1.0)
    {
        setZoom(zoom);
    }

    void setZoom(double zoom)
    {
        context.remoteToLocalScale = zoom;
        context.localToRemoteScale = 1.0 / zoom;
    }

    // Gives the session a framebuffer of that size (black until the test draws into it).
    QImage &setFramebuffer(int width, int height)
    {
        framebuffer = QImage(width, height, QImage::Format_RGB32);
        framebuffer.fill(Qt::black);
        gdi.width = width;
        gdi.height = height;
        gdi.stride = UINT32(framebuffer.bytesPerLine());
        gdi.primary_buffer = framebuffer.bits();
        context.common.context.gdi = &gdi;
        return framebuffer;
    }

    std::unique_ptr<RdpInputSender> recorder() { return std::make_unique<RecordingInputSender>(&sent); }

    // A stand-in for the desktop-size channel: present, never called through.
    void setDesktopSizeChannel(bool present)
    {
        static char channel;
        context.oxdeskClient = present ? reinterpret_cast<OxdeskClientContext *>(&channel) : nullptr;
    }
};
