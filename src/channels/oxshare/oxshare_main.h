#ifndef NUVEK_CHANNELS_OXSHARE_MAIN_H
#define NUVEK_CHANNELS_OXSHARE_MAIN_H

// Client add-in of the "oxshare" channel: session sharing.

#include <freerdp/svc.h>
#include <winpr/wtypes.h>

#include <cstddef>

struct OxshareClientContext;

// One viewer of a ServerStatus message; the array handed to the callback is
// freed when the callback returns.
struct OxshareStatusEntry
{
    UINT32 id;
    UINT16 flags;      // any bit of 0x0003: this viewer has control
    const char *name;  // UTF-8, zero-terminated
    size_t nameLength; // bytes, without the terminator
};

typedef UINT (*pcOxshareStartSharing)(OxshareClientContext *context, const char *key);
typedef UINT (*pcOxshareStopSharing)(OxshareClientContext *context);
typedef UINT (*pcOxshareKickViewer)(OxshareClientContext *context, UINT32 id);
typedef UINT (*pcOxshareGiveControl)(OxshareClientContext *context, UINT32 id);
typedef UINT (*pcOxshareClientId)(OxshareClientContext *context, UINT32 id);
typedef UINT (*pcOxshareServerStatus)(OxshareClientContext *context, BOOL active, const OxshareStatusEntry *entries,
                                      UINT32 count);
typedef UINT (*pcOxshareDisconnectInfo)(OxshareClientContext *context, UINT32 value);
typedef UINT (*pcOxshareMouseEvent)(OxshareClientContext *context, UINT16 x, UINT16 y, UINT32 flags);

struct OxshareClientContext
{
    void *handle;
    void *custom;

    pcOxshareStartSharing StartSharing;
    pcOxshareStopSharing StopSharing;
    pcOxshareKickViewer KickViewer;
    pcOxshareGiveControl GiveControl;
    pcOxshareClientId ClientId;
    pcOxshareServerStatus ServerStatus;
    pcOxshareDisconnectInfo DisconnectInfo;
    pcOxshareMouseEvent MouseEvent;
};

BOOL VCAPITYPE oxshare_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

#endif // NUVEK_CHANNELS_OXSHARE_MAIN_H
