#ifndef NUVEK_CHANNELS_OXCFG_MAIN_H
#define NUVEK_CHANNELS_OXCFG_MAIN_H

// Client add-in of the "oxcfg" channel: the server's encoding options as
// JSON text (UTF-8).

#include <freerdp/svc.h>
#include <winpr/wtypes.h>

struct OxcfgClientContext;

typedef UINT (*pcOxcfgOptionsUpdatedNotify)(OxcfgClientContext *context, const char *text);
typedef UINT (*pcOxcfgSetOptions)(OxcfgClientContext *context, const char *text);
typedef UINT (*pcOxcfgSetOptionsResponse)(OxcfgClientContext *context, const char *text);

struct OxcfgClientContext
{
    void *handle;
    void *custom;

    pcOxcfgOptionsUpdatedNotify OptionsUpdatedNotify;
    pcOxcfgSetOptions SetOptions;
    pcOxcfgSetOptionsResponse SetOptionsResponse;
};

BOOL VCAPITYPE oxcfg_VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle);

#endif // NUVEK_CHANNELS_OXCFG_MAIN_H
