#include "channels/oxchannel.h"

#include <winpr/synch.h>
#include <winpr/thread.h>
#include <winpr/wtsapi.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace {

// The first allocation for a message; larger ones grow as their chunks come,
// so a total length claimed by the server is never allocated up front.
constexpr size_t InitialBufferSize = 64 * 1024;

// The process-wide tables that lead FreeRDP's init and open callbacks to
// their channel. They are made once and live as long as the process: every
// connection of every session uses them, from its own threads (the
// dictionaries lock themselves).
struct HandleTables
{
    wListDictionary *byInit = ListDictionary_New(TRUE);
    wListDictionary *byOpen = ListDictionary_New(TRUE);
    ~HandleTables()
    {
        ListDictionary_Free(byInit);
        ListDictionary_Free(byOpen);
    }
};

HandleTables &tables()
{
    static HandleTables instance;
    return instance;
}

const void *openKey(DWORD openHandle)
{
    return reinterpret_cast<const void *>(static_cast<uintptr_t>(openHandle));
}

void freeQueuedMessage(void *object)
{
    auto *message = static_cast<wMessage *>(object);
    if (message && message->id == 0)
        Stream_Free(static_cast<wStream *>(message->wParam), TRUE);
}

} // namespace

OxChannel::OxChannel(const OxChannelType &type, wLog *logger) : type(type), logger(logger) {}

OxChannel::~OxChannel()
{
    if (iface)
        type.freeInterface(iface);
}

BOOL OxChannel::entry(const OxChannelType &type, PCHANNEL_ENTRY_POINTS_EX entryPoints,
                      PVOID initHandle, PCHANNEL_INIT_EVENT_EX_FN initProc)
{
    wLog *logger = WLog_Get(type.logTag);
    WLog_Print(logger, WLOG_DEBUG, "VirtualChannelEntry");
    if (!entryPoints)
        return FALSE;

    auto *channel = new OxChannel(type, logger);
    channel->channelDef.options = CHANNEL_OPTION_INITIALIZED | CHANNEL_OPTION_ENCRYPT_RDP
                                  | CHANNEL_OPTION_COMPRESS_RDP | CHANNEL_OPTION_SHOW_PROTOCOL;
    std::snprintf(channel->channelDef.name, sizeof(channel->channelDef.name), "%s", type.name);

    const auto *freerdpEntryPoints =
        reinterpret_cast<const CHANNEL_ENTRY_POINTS_FREERDP_EX *>(entryPoints);
    const bool isFreerdp = freerdpEntryPoints->cbSize >= sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX)
                           && freerdpEntryPoints->MagicNumber == FREERDP_CHANNEL_MAGIC_NUMBER;
    if (isFreerdp) {
        channel->entryPoints = *freerdpEntryPoints;
        channel->iface = type.newInterface(channel);
    } else {
        // Only the plain extended entry points are there to copy.
        std::copy_n(reinterpret_cast<const BYTE *>(entryPoints),
                    std::min<size_t>(entryPoints->cbSize, sizeof(CHANNEL_ENTRY_POINTS_EX)),
                    reinterpret_cast<BYTE *>(&channel->entryPoints));
    }
    channel->initHandle = initHandle;

    const UINT rc = channel->entryPoints.pVirtualChannelInitEx(
        channel, channel->iface, initHandle, &channel->channelDef, 1,
        VIRTUAL_CHANNEL_VERSION_WIN2000, initProc);
    if (rc != CHANNEL_RC_OK) {
        WLog_Print(logger, WLOG_ERROR, "pVirtualChannelInit failed with %s [%08" PRIX32 "]",
                   WTSErrorToString(rc), rc);
        delete channel;
        return FALSE;
    }
    channel->entryPoints.pInterface = channel->iface;
    ListDictionary_Add(tables().byInit, initHandle, channel);
    return TRUE;
}

void OxChannel::handleInitEvent(const OxChannelType &type, LPVOID userParam, LPVOID initHandle,
                                UINT event, LPVOID, UINT, PCHANNEL_OPEN_EVENT_EX_FN openProc)
{
    auto *channel =
        static_cast<OxChannel *>(ListDictionary_GetItemValue(tables().byInit, initHandle));
    if (!channel || channel != userParam) {
        WLog_Print(WLog_Get(type.logTag), WLOG_ERROR,
                   "%s_virtual_channel_init_event: error no match", type.name);
        return;
    }
    switch (event) {
    case CHANNEL_EVENT_CONNECTED:
        channel->connected(openProc);
        break;
    case CHANNEL_EVENT_DISCONNECTED:
        channel->disconnected();
        break;
    case CHANNEL_EVENT_TERMINATED:
        // FreeRDP terminates without disconnecting when its connect step failed late.
        channel->disconnected();
        ListDictionary_Remove(tables().byInit, initHandle);
        delete channel;
        break;
    default:
        break;
    }
}

void OxChannel::handleOpenEvent(const OxChannelType &type, LPVOID userParam, DWORD openHandle,
                                UINT event, LPVOID data, UINT32 length, UINT32 total,
                                UINT32 flags)
{
    switch (event) {
    case CHANNEL_EVENT_DATA_RECEIVED: {
        auto *channel = static_cast<OxChannel *>(
            ListDictionary_GetItemValue(tables().byOpen, openKey(openHandle)));
        if (!channel || channel != userParam) {
            WLog_Print(WLog_Get(type.logTag), WLOG_ERROR,
                       "%s_virtual_channel_open_event: error no match", type.name);
            return;
        }
        channel->received(data, length, total, flags);
        break;
    }
    case CHANNEL_EVENT_WRITE_COMPLETE:
    case CHANNEL_EVENT_WRITE_CANCELLED:
        // The buffer is ours whatever became of the channel: FreeRDP cancels the writes
        // still queued only when it frees its channels, after ours were terminated.
        Stream_Free(static_cast<wStream *>(data), TRUE);
        break;
    default:
        break;
    }
}

void OxChannel::connected(PCHANNEL_OPEN_EVENT_EX_FN openProc)
{
    if (openHandle)
        return;
    const UINT rc = entryPoints.pVirtualChannelOpenEx(initHandle, &openHandle, channelDef.name,
                                                      openProc);
    if (rc != CHANNEL_RC_OK) {
        WLog_Print(logger, WLOG_ERROR, "pVirtualChannelOpen failed with %s [%08" PRIX32 "]",
                   WTSErrorToString(rc), rc);
        openHandle = 0;
        return;
    }
    wObject callbacks{};
    callbacks.fnObjectFree = freeQueuedMessage;
    queue = MessageQueue_New(&callbacks);
    if (queue)
        thread = CreateThread(nullptr, 0, receiveThread, this, 0, nullptr);
    if (!thread) {
        WLog_Print(logger, WLOG_ERROR, "the receive thread could not be started");
        MessageQueue_Free(queue);
        queue = nullptr;
        entryPoints.pVirtualChannelCloseEx(initHandle, openHandle);
        openHandle = 0;
        return;
    }
    ListDictionary_Add(tables().byOpen, openKey(openHandle), this);
}

void OxChannel::disconnected()
{
    if (!openHandle)
        return;
    ListDictionary_Remove(tables().byOpen, openKey(openHandle));
    MessageQueue_PostQuit(queue, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
    MessageQueue_Free(queue);
    queue = nullptr;

    const UINT rc = entryPoints.pVirtualChannelCloseEx(initHandle, openHandle);
    if (rc != CHANNEL_RC_OK)
        WLog_Print(logger, WLOG_ERROR, "pVirtualChannelClose failed with %s [%08" PRIX32 "]",
                   WTSErrorToString(rc), rc);
    openHandle = 0;
    Stream_Free(dataIn, TRUE);
    dataIn = nullptr;
}

void OxChannel::received(const void *data, UINT32 length, UINT32 total, UINT32 flags)
{
    if (flags & (CHANNEL_FLAG_SUSPEND | CHANNEL_FLAG_RESUME))
        return;
    if (flags & CHANNEL_FLAG_FIRST) {
        Stream_Free(dataIn, TRUE);
        dataIn = Stream_New(nullptr,
                            std::max<size_t>(1, std::min<size_t>(total, InitialBufferSize)));
        if (!dataIn)
            return;
    }
    if (!dataIn)
        return; // a chunk without its first one
    if (length > 0) {
        if (!data || !Stream_EnsureRemainingCapacity(dataIn, length)) {
            Stream_Free(dataIn, TRUE);
            dataIn = nullptr;
            return;
        }
        Stream_Write(dataIn, data, length);
    }
    if (flags & CHANNEL_FLAG_LAST) {
        if (Stream_GetPosition(dataIn) != total)
            WLog_Print(logger, WLOG_ERROR, "%s_plugin_process_received: read error", type.name);
        Stream_SealLength(dataIn);
        Stream_SetPosition(dataIn, 0);
        wStream *message = dataIn;
        dataIn = nullptr;
        if (!MessageQueue_Post(queue, nullptr, 0, message, nullptr))
            Stream_Free(message, TRUE);
    }
}

DWORD WINAPI OxChannel::receiveThread(LPVOID arg)
{
    auto *channel = static_cast<OxChannel *>(arg);
    wMessage message;
    while (MessageQueue_Wait(channel->queue)) {
        if (!MessageQueue_Peek(channel->queue, &message, TRUE))
            break;
        if (message.id == WMQ_QUIT)
            break;
        if (message.id == 0) {
            auto *stream = static_cast<wStream *>(message.wParam);
            channel->process(stream);
            Stream_Free(stream, TRUE);
        }
    }
    ExitThread(0);
    return 0;
}

void OxChannel::process(wStream *stream)
{
    OxPduReader reader;
    if (!reader.open(Stream_Buffer(stream), Stream_Length(stream)))
        return; // shorter than its header
    if (!type.dispatch(this, reader))
        WLog_Print(logger, WLOG_ERROR, "unknown msgType %d", int(reader.type()));
}

UINT OxChannel::send(const OxBytes &message)
{
    UINT rc = CHANNEL_RC_BAD_INIT_HANDLE;
    wStream *stream = nullptr;
    if (openHandle) {
        stream = Stream_New(nullptr, std::max<size_t>(1, message.size()));
        if (!stream)
            return CHANNEL_RC_NO_MEMORY;
        Stream_Write(stream, message.data(), message.size());
        Stream_SealLength(stream);
        rc = entryPoints.pVirtualChannelWriteEx(initHandle, openHandle, Stream_Buffer(stream),
                                                ULONG(Stream_Length(stream)), stream);
    }
    if (rc != CHANNEL_RC_OK) {
        Stream_Free(stream, TRUE);
        WLog_Print(logger, WLOG_ERROR, "VirtualChannelWrite failed with %s [%08" PRIX32 "]",
                   WTSErrorToString(rc), rc);
    }
    return rc;
}
