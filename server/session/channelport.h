#ifndef NUVEK_RDP_CHANNELPORT_H
#define NUVEK_RDP_CHANNELPORT_H

#include "channels/oxpdu.h"

#include <winpr/wtypes.h>

#include <vector>

// One of our static channels on one viewer's connection. Messages are
// written from any thread (FreeRDP queues them for the viewer's thread);
// received ones are taken on the viewer's thread.
class ChannelPort
{
public:
    // Fails quietly when the viewer did not ask for the channel.
    bool open(HANDLE vcm, const char *name);
    void close();
    bool isOpen() const { return m_handle != nullptr; }

    void send(const OxBytes &message);
    // Every complete message received so far.
    std::vector<OxBytes> takeReceived();

private:
    HANDLE m_handle = nullptr;
};

#endif // NUVEK_RDP_CHANNELPORT_H
