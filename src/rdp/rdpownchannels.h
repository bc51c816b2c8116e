#pragma once

struct RdpContext;

// Our own channels (oxdesk, oxrail, oxshare, oxcfg) as FreeRDP's "ChannelConnected" and
// "ChannelDisconnected" events report them.
//
// On connect the channel's interface is stored in the session context, its custom pointer
// set to the context, and its callbacks installed: each one queues a call of the matching
// RdpInstance slot by name (handleOxdeskDesktopResized, handleOxshareServerStatus, ...),
// since the callbacks run on the channel's receive thread. They stop before FreeRDP reports
// the channel disconnected (the add-in joins its thread first), and RdpInstance always lets
// FreeRDP disconnect the channels before it frees the context.
//
// Both return false for a name that is not one of ours.
bool connectOwnRdpChannel(RdpContext *context, const char *name, void *clientInterface);
bool disconnectOwnRdpChannel(RdpContext *context, const char *name);
