#ifndef NUVEK_CHANNELS_OXCHANNEL_H
#define NUVEK_CHANNELS_OXCHANNEL_H

// The life cycle that our four channel add-ins (oxdesk, oxrail, oxshare,
// oxcfg) share; only their interface records and what they do with a
// received message differ, and those come in an OxChannelType.
//
// Each add-in is a FreeRDP static virtual channel add-in with the extended
// entry point. FreeRDP hands the interface record back in its
// "ChannelConnected" event when the entry points are FreeRDP's own (magic
// number and size checked); otherwise the add-in runs without interface.
//
// Threads: the entry and the init events run where FreeRDP loads and
// connects the channels; received chunks arrive on the thread that runs
// FreeRDP's event processing and are reassembled there; each complete message
// goes through a WinPR message queue to the channel's own receive thread,
// which dispatches it, so every callback of the interface runs on that thread.
// Channel disconnect stops and joins the receive thread, so no callback runs
// after FreeRDP has disconnected the channels.

#include "channels/oxpdu.h"

#include <freerdp/svc.h>
#include <winpr/collections.h>
#include <winpr/stream.h>
#include <winpr/wlog.h>

class OxChannel;

struct OxChannelType
{
    const char *name;   // channel name, at most 7 characters
    const char *logTag; // WLog logger
    // Makes and frees the interface record; its `handle` is the channel.
    void *(*newInterface)(OxChannel *channel);
    void (*freeInterface)(void *clientInterface);
    // Handles one received message (the reader stands at the body). Returns
    // false for a type the channel does not know.
    bool (*dispatch)(OxChannel *channel, OxPduReader &message);
};

class OxChannel
{
public:
    // The body of every add-in's VirtualChannelEntryEx.
    template <const OxChannelType &Type>
    static BOOL entry(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle)
    {
        return entry(Type, entryPoints, initHandle, &initEvent<Type>);
    }

    // Hands one message to FreeRDP; the buffer is freed when the write
    // completes or is cancelled. Fails with CHANNEL_RC_BAD_INIT_HANDLE while
    // the channel is not open.
    UINT send(const OxBytes &message);

    // send() on the channel behind an interface record (its `handle`);
    // ERROR_INVALID_PARAMETER without one.
    template <class Context>
    static UINT sendFrom(Context *context, const OxBytes &message)
    {
        auto *channel = context ? static_cast<OxChannel *>(context->handle) : nullptr;
        return channel ? channel->send(message) : UINT(ERROR_INVALID_PARAMETER);
    }
    // An OxChannelType's freeInterface for records made with new.
    template <class Context>
    static void deleteInterface(void *clientInterface)
    {
        delete static_cast<Context *>(clientInterface);
    }

    // The interface record; null without FreeRDP's extended entry points.
    void *clientInterface() const { return iface; }
    wLog *log() const { return logger; }

private:
    OxChannel(const OxChannelType &type, wLog *logger);
    ~OxChannel();

    template <const OxChannelType &Type>
    static VOID VCAPITYPE initEvent(LPVOID userParam, LPVOID initHandle, UINT event, LPVOID data,
                                    UINT length)
    {
        handleInitEvent(Type, userParam, initHandle, event, data, length, &openEvent<Type>);
    }
    template <const OxChannelType &Type>
    static VOID VCAPITYPE openEvent(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data,
                                    UINT32 length, UINT32 total, UINT32 flags)
    {
        handleOpenEvent(Type, userParam, openHandle, event, data, length, total, flags);
    }

    static BOOL entry(const OxChannelType &type, PCHANNEL_ENTRY_POINTS_EX entryPoints,
                      PVOID initHandle, PCHANNEL_INIT_EVENT_EX_FN initProc);
    static void handleInitEvent(const OxChannelType &type, LPVOID userParam, LPVOID initHandle,
                                UINT event, LPVOID data, UINT length,
                                PCHANNEL_OPEN_EVENT_EX_FN openProc);
    static void handleOpenEvent(const OxChannelType &type, LPVOID userParam, DWORD openHandle,
                                UINT event, LPVOID data, UINT32 length, UINT32 total,
                                UINT32 flags);
    static DWORD WINAPI receiveThread(LPVOID arg);

    void connected(PCHANNEL_OPEN_EVENT_EX_FN openProc);
    void disconnected();
    void received(const void *data, UINT32 length, UINT32 total, UINT32 flags);
    void process(wStream *message);

    const OxChannelType &type;
    wLog *logger;
    CHANNEL_DEF channelDef{};
    CHANNEL_ENTRY_POINTS_FREERDP_EX entryPoints{};
    void *iface = nullptr;
    PVOID initHandle = nullptr;
    DWORD openHandle = 0;
    wStream *dataIn = nullptr; // message being reassembled
    wMessageQueue *queue = nullptr;
    HANDLE thread = nullptr;
};

#endif // NUVEK_CHANNELS_OXCHANNEL_H
