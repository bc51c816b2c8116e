#ifndef NUVEK_CHANNELS_OXSHARE_COMMON_H
#define NUVEK_CHANNELS_OXSHARE_COMMON_H

// "oxshare": session sharing, its viewer list, control hand-over and the
// controlling user's pointer.

#include "channels/oxpdu.h"

#define OXSHARE_CHANNEL_NAME "oxshare"

namespace oxshare {

enum MessageType : uint16_t {
    ClientId = 1,       // server -> client: u32 id of this client (0 = owner)
    ServerStatus = 2,   // server -> client: active byte, then viewer entries
    StartSharing = 3,   // client -> server: key as UTF-16LE plus a 16-bit zero
    StopSharing = 4,    // client -> server: empty
    KickViewer = 5,     // client -> server: u32 viewer id
    GiveControl = 6,    // client -> server: u32 viewer id
    DisconnectInfo = 7, // server -> client: u32 value
    MouseEvent = 8,     // server -> client: x, y (u16), flags (u32)
};

// A viewer with any of these flag bits has control of the session.
constexpr uint16_t ControlFlags = 0x0003;

struct StatusEntry
{
    uint32_t id = 0;
    uint16_t flags = 0;
    std::string name; // UTF-8
};

struct Status
{
    bool active = false;
    std::vector<StatusEntry> entries;
    // The last name had no terminating zero: that entry got an empty name
    // and reading stopped there.
    bool nameOverrun = false;
};

// ClientId, KickViewer, GiveControl and DisconnectInfo: one u32.
OxBytes encodeU32(uint16_t type, uint32_t value);
bool decodeU32(OxPduReader &body, uint32_t &value);

OxBytes encodeStopSharing();

OxBytes encodeStartSharing(const std::string &utf8Key);
// Fails on an empty body, a missing terminating zero or broken UTF-16.
bool decodeStartSharing(OxPduReader &body, std::string &utf8Key);

OxBytes encodeServerStatus(const Status &status);
// Fails only for a body without the active byte.
bool decodeServerStatus(OxPduReader &body, Status &status);

OxBytes encodeMouseEvent(uint16_t x, uint16_t y, uint32_t flags);
bool decodeMouseEvent(OxPduReader &body, uint16_t &x, uint16_t &y, uint32_t &flags);

} // namespace oxshare

#endif // NUVEK_CHANNELS_OXSHARE_COMMON_H
