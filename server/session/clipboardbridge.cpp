#include "clipboardbridge.h"

#include "channels/oxpdu.h"
#include "sessionserver.h"
#include "viewer.h"

#include <freerdp/channels/cliprdr.h>
#include <winpr/user.h>

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

std::string withoutCarriageReturns(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

std::string withCarriageReturns(const std::string &text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

std::string latin1ToUtf8(const unsigned char *data, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && data[i]; ++i) {
        if (data[i] < 0x80) {
            out += static_cast<char>(data[i]);
        } else {
            out += static_cast<char>(0xC0 | (data[i] >> 6));
            out += static_cast<char>(0x80 | (data[i] & 0x3F));
        }
    }
    return out;
}

// Characters outside Latin-1 become '?'.
std::string utf8ToLatin1(const std::string &text)
{
    const OxBytes utf16 = oxUtf8ToUtf16le(text);
    std::string out;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned unit = utf16[i] | (utf16[i + 1] << 8);
        if (unit >= 0xDC00 && unit < 0xE000)
            continue; // second half of a pair, already replaced
        out += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
    return out;
}

} // namespace

ClipboardBridge::~ClipboardBridge()
{
    stop();
}

bool ClipboardBridge::start()
{
    m_display = XOpenDisplay(nullptr);
    if (!m_display)
        return false;
    int errorBase = 0;
    if (!XFixesQueryExtension(m_display, &m_fixesEvent, &errorBase)) {
        XCloseDisplay(m_display);
        m_display = nullptr;
        return false;
    }
    if (pipe(m_wakePipe) != 0)
        return false;
    m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
    m_clipboard = XInternAtom(m_display, "CLIPBOARD", False);
    m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
    m_targets = XInternAtom(m_display, "TARGETS", False);
    m_text = XInternAtom(m_display, "TEXT", False);
    m_incr = XInternAtom(m_display, "INCR", False);
    m_property = XInternAtom(m_display, "NUVEK_CLIPBOARD", False);
    XFixesSelectSelectionInput(m_display, m_window, m_clipboard, XFixesSetSelectionOwnerNotifyMask);
    // A text copied before we started.
    if (XGetSelectionOwner(m_display, m_clipboard) != None)
        XConvertSelection(m_display, m_clipboard, m_utf8, m_property, m_window, CurrentTime);
    XFlush(m_display);
    m_quit = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void ClipboardBridge::stop()
{
    if (m_thread.joinable()) {
        m_quit = true;
        const char byte = 'q';
        (void)!write(m_wakePipe[1], &byte, 1);
        m_thread.join();
    }
    if (m_display) {
        XCloseDisplay(m_display);
        m_display = nullptr;
    }
    for (int &fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ClipboardBridge::run()
{
    while (!m_quit) {
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            handle(event);
        }
        if (m_takeOwnership.exchange(false)) {
            XSetSelectionOwner(m_display, m_clipboard, m_window, CurrentTime);
            XFlush(m_display);
            continue;
        }
        pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN)) {
            char buffer[16];
            (void)!read(m_wakePipe[0], buffer, sizeof buffer);
        }
    }
}

void ClipboardBridge::handle(XEvent &event)
{
    if (event.type == m_fixesEvent + XFixesSelectionNotify) {
        const auto &notify = reinterpret_cast<XFixesSelectionNotifyEvent &>(event);
        if (notify.owner != None && notify.owner != m_window)
            XConvertSelection(m_display, m_clipboard, m_utf8, m_property, m_window,
                              notify.selection_timestamp);
    } else if (event.type == SelectionNotify) {
        if (event.xselection.property != None)
            readSelection(event.xselection.property);
        else if (event.xselection.target == m_utf8)
            XConvertSelection(m_display, m_clipboard, XA_STRING, m_property, m_window,
                              event.xselection.time);
    } else if (event.type == SelectionRequest) {
        serve(event.xselectionrequest);
    }
}

void ClipboardBridge::readSelection(Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(m_display, m_window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                           &type, &format, &count, &after, &data)
            != Success
        || !data)
        return;
    std::string text;
    if (type == m_utf8 && format == 8)
        text.assign(reinterpret_cast<char *>(data), count);
    else if (type == XA_STRING && format == 8)
        text = latin1ToUtf8(data, count);
    else if (type == m_incr)
        std::fprintf(stderr, "nuvek2_rdp: clipboard text too large to take over\n");
    XFree(data);
    if (type != m_utf8 && type != XA_STRING)
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_text8 = withoutCarriageReturns(text);
        m_textFromX = true;
        m_source = nullptr;
    }
    announceToAll(nullptr);
}

void ClipboardBridge::serve(const XSelectionRequestEvent &request)
{
    XSelectionEvent reply = {};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    const Atom property = request.property != None ? request.property : request.target;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        text = m_text8;
    }
    if (request.selection == m_clipboard) {
        if (request.target == m_targets) {
            const Atom targets[] = {m_targets, m_utf8, XA_STRING, m_text};
            XChangeProperty(m_display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(targets), 4);
            reply.property = property;
        } else if (request.target == m_utf8 || request.target == m_text) {
            XChangeProperty(m_display, request.requestor, property, m_utf8, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(text.data()),
                            static_cast<int>(text.size()));
            reply.property = property;
        } else if (request.target == XA_STRING) {
            const std::string latin1 = utf8ToLatin1(text);
            XChangeProperty(m_display, request.requestor, property, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(latin1.data()),
                            static_cast<int>(latin1.size()));
            reply.property = property;
        }
    }
    XSendEvent(m_display, request.requestor, False, NoEventMask, reinterpret_cast<XEvent *>(&reply));
    XFlush(m_display);
}

void ClipboardBridge::attach(Viewer &viewer)
{
    CliprdrServerContext *context = cliprdr_server_context_new(viewer.client->vcm);
    if (!context)
        return;
    auto *peer = new Peer;
    peer->bridge = this;
    peer->context = context;
    context->custom = peer;
    context->rdpcontext = &viewer.client->context;
    context->useLongFormatNames = TRUE;
    context->ClientCapabilities = &ClipboardBridge::onClientCapabilities;
    context->ClientFormatList = &ClipboardBridge::onClientFormatList;
    context->ClientFormatListResponse = &ClipboardBridge::onClientFormatListResponse;
    context->ClientFormatDataRequest = &ClipboardBridge::onClientFormatDataRequest;
    context->ClientFormatDataResponse = &ClipboardBridge::onClientFormatDataResponse;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_viewers.push_back(peer);
    }
    if (context->Start(context) != CHANNEL_RC_OK) {
        // The viewer has no clipboard channel.
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_viewers.erase(std::remove(m_viewers.begin(), m_viewers.end(), peer), m_viewers.end());
        }
        cliprdr_server_context_free(context);
        delete peer;
        return;
    }
    viewer.clipboard = context;
}

void ClipboardBridge::detach(Viewer &viewer)
{
    CliprdrServerContext *context = viewer.clipboard;
    if (!context)
        return;
    auto *peer = static_cast<Peer *>(context->custom);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_viewers.erase(std::remove(m_viewers.begin(), m_viewers.end(), peer), m_viewers.end());
        if (m_source == peer)
            m_source = nullptr;
    }
    context->Stop(context);
    cliprdr_server_context_free(context);
    delete peer;
    viewer.clipboard = nullptr;
}

void ClipboardBridge::announce(CliprdrServerContext *context)
{
    CLIPRDR_FORMAT formats[2] = {{CF_UNICODETEXT, nullptr}, {CF_TEXT, nullptr}};
    CLIPRDR_FORMAT_LIST list = {};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = 2;
    list.formats = formats;
    context->ServerFormatList(context, &list);
}

void ClipboardBridge::announceToAll(const Peer *except)
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (Peer *peer : m_viewers)
        if (peer != except && peer->ready)
            announce(peer->context);
}

UINT ClipboardBridge::onClientCapabilities(CliprdrServerContext *context,
                                           const CLIPRDR_CAPABILITIES *)
{
    auto *peer = static_cast<Peer *>(context->custom);
    std::lock_guard<std::mutex> lock(peer->bridge->m_lock);
    peer->ready = true;
    if (!peer->bridge->m_text8.empty())
        announce(context);
    return CHANNEL_RC_OK;
}

UINT ClipboardBridge::onClientFormatList(CliprdrServerContext *context,
                                         const CLIPRDR_FORMAT_LIST *formatList)
{
    auto *peer = static_cast<Peer *>(context->custom);
    CLIPRDR_FORMAT_LIST_RESPONSE response = {};
    response.msgType = CB_FORMAT_LIST_RESPONSE;
    response.msgFlags = CB_RESPONSE_OK;
    context->ServerFormatListResponse(context, &response);

    UINT32 wanted = 0;
    for (UINT32 i = 0; i < formatList->numFormats; ++i) {
        if (formatList->formats[i].formatId == CF_UNICODETEXT)
            wanted = CF_UNICODETEXT;
        else if (formatList->formats[i].formatId == CF_TEXT && wanted == 0)
            wanted = CF_TEXT;
    }
    // A viewer without control only watches: its clipboard stays its own.
    auto *client = reinterpret_cast<rdpShadowClient *>(context->rdpcontext);
    if (wanted == 0 || !SessionServer::instance().inControl(client))
        return CHANNEL_RC_OK;
    {
        std::lock_guard<std::mutex> lock(peer->bridge->m_lock);
        peer->requested = wanted;
    }
    CLIPRDR_FORMAT_DATA_REQUEST request = {};
    request.msgType = CB_FORMAT_DATA_REQUEST;
    request.dataLen = 4;
    request.requestedFormatId = wanted;
    return context->ServerFormatDataRequest(context, &request);
}

UINT ClipboardBridge::onClientFormatListResponse(CliprdrServerContext *,
                                                 const CLIPRDR_FORMAT_LIST_RESPONSE *)
{
    return CHANNEL_RC_OK;
}

UINT ClipboardBridge::onClientFormatDataRequest(CliprdrServerContext *context,
                                                const CLIPRDR_FORMAT_DATA_REQUEST *request)
{
    auto *peer = static_cast<Peer *>(context->custom);
    std::string text;
    {
        std::lock_guard<std::mutex> lock(peer->bridge->m_lock);
        text = withCarriageReturns(peer->bridge->m_text8);
    }
    OxBytes data;
    if (request->requestedFormatId == CF_UNICODETEXT) {
        data = oxUtf8ToUtf16le(text);
        data.push_back(0);
        data.push_back(0);
    } else if (request->requestedFormatId == CF_TEXT) {
        const std::string latin1 = utf8ToLatin1(text);
        data.assign(latin1.begin(), latin1.end());
        data.push_back(0);
    }
    CLIPRDR_FORMAT_DATA_RESPONSE response = {};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    response.msgFlags = data.empty() ? CB_RESPONSE_FAIL : CB_RESPONSE_OK;
    response.dataLen = static_cast<UINT32>(data.size());
    response.requestedFormatData = data.data();
    return context->ServerFormatDataResponse(context, &response);
}

UINT ClipboardBridge::onClientFormatDataResponse(CliprdrServerContext *context,
                                                 const CLIPRDR_FORMAT_DATA_RESPONSE *response)
{
    auto *peer = static_cast<Peer *>(context->custom);
    ClipboardBridge *self = peer->bridge;
    UINT32 requested = 0;
    {
        std::lock_guard<std::mutex> lock(self->m_lock);
        requested = peer->requested;
        peer->requested = 0;
    }
    if (!(response->msgFlags & CB_RESPONSE_OK) || !response->requestedFormatData)
        return CHANNEL_RC_OK;
    std::string text;
    if (requested == CF_UNICODETEXT) {
        bool ok = false;
        text = oxUtf16leToUtf8(response->requestedFormatData, response->dataLen / 2, &ok);
        if (!ok)
            return CHANNEL_RC_OK;
    } else if (requested == CF_TEXT) {
        text = latin1ToUtf8(response->requestedFormatData, response->dataLen);
    } else {
        return CHANNEL_RC_OK;
    }
    {
        std::lock_guard<std::mutex> lock(self->m_lock);
        // A viewer that hands back what it was given (some announce every
        // change of their own clipboard) changes nothing: no echo between
        // viewers.
        text = withoutCarriageReturns(text);
        if (text == self->m_text8)
            return CHANNEL_RC_OK;
        self->m_text8 = text;
        self->m_textFromX = false;
        self->m_source = peer;
    }
    self->announceToAll(peer);
    self->m_takeOwnership = true;
    const char byte = 'o';
    (void)!write(self->m_wakePipe[1], &byte, 1);
    return CHANNEL_RC_OK;
}
