#include "channelport.h"

#include <freerdp/channels/wtsvc.h>

#include <cstdio>

bool ChannelPort::open(HANDLE vcm, const char *name)
{
    m_handle = WTSVirtualChannelOpen(vcm, WTS_CURRENT_SESSION, const_cast<char *>(name));
    return m_handle != nullptr;
}

void ChannelPort::close()
{
    if (m_handle)
        WTSVirtualChannelClose(m_handle);
    m_handle = nullptr;
}

void ChannelPort::send(const OxBytes &message)
{
    if (!m_handle)
        return;
    ULONG written = 0;
    if (!WTSVirtualChannelWrite(m_handle, reinterpret_cast<PCHAR>(const_cast<uint8_t *>(message.data())),
                                static_cast<ULONG>(message.size()), &written))
        std::fprintf(stderr, "nuvek2_rdp: a channel message could not be queued\n");
}

std::vector<OxBytes> ChannelPort::takeReceived()
{
    std::vector<OxBytes> messages;
    if (!m_handle)
        return messages;
    for (;;) {
        ULONG size = 0;
        // A read without a buffer only reports the size of the next message.
        if (!WTSVirtualChannelRead(m_handle, 0, nullptr, 0, &size))
            break;
        OxBytes message(size);
        ULONG read = 0;
        if (size == 0) {
            // An empty message: take it off the queue with a one-byte read.
            char dummy;
            WTSVirtualChannelRead(m_handle, 0, &dummy, 1, &read);
            continue;
        }
        if (!WTSVirtualChannelRead(m_handle, 0, reinterpret_cast<PCHAR>(message.data()), size, &read))
            break;
        message.resize(read);
        messages.push_back(std::move(message));
    }
    return messages;
}
