#pragma once

#include <freerdp/addin.h>

// The static channel provider of every connection: "rail" and "cliprdr" are FreeRDP's own
// clients, "oxdesk", "oxrail", "oxshare" and "oxcfg" ours; anything else goes to FreeRDP's
// own lookup of static add-ins.
PVIRTUALCHANNELENTRY rdpChannelProvider(LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags);

// Registers the provider with FreeRDP (process-wide; repeating it is harmless).
void registerRdpChannelProvider();

// True for the names of our own channels.
bool isOwnRdpChannel(const char *name);
