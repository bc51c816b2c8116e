#ifndef NUVEK_CHANNELS_OXDESK_MAIN_H
#define NUVEK_CHANNELS_OXDESK_MAIN_H

// Client add-in of the "oxdesk" channel: desktop size requests and changes.
// Operations are filled in by the add-in; callbacks by the session (null
// callbacks drop the message). Callbacks run on the channel's receive thread.

#include <freerdp/svc.h>
#include <winpr/wtypes.h>

struct OxdeskClientContext;

typedef UINT (*pcOxdeskSizeRequest)(OxdeskClientContext *context, UINT16 width, UINT16 height);
typedef UINT (*pcOxdeskDesktopResized)(OxdeskClientContext *context, UINT16 width, UINT16 height);
typedef UINT (*pcOxdeskMinMaxInfo)(OxdeskClientContext *context, UINT16 a, UINT16 b, UINT16 c, UINT16 d);

struct OxdeskClientContext
{
    void *handle; // the channel client
    void *custom; // the session context, set by the session

    pcOxdeskSizeRequest SizeRequest;
    pcOxdeskDesktopResized DesktopResized;
    pcOxdeskMinMaxInfo MinMaxInfo;
};

BOOL VCAPITYPE oxdesk_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

#endif // NUVEK_CHANNELS_OXDESK_MAIN_H
