#ifndef NUVEK_RDP_CLIPBOARDBRIDGE_H
#define NUVEK_RDP_CLIPBOARDBRIDGE_H

#include <freerdp/server/cliprdr.h>

#include <X11/Xlib.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Viewer;

// Text on the clipboard, both ways, between the session's X CLIPBOARD
// selection and every viewer's clipboard channel.
//
// A copy on the X side is read at once (UTF8_STRING, else STRING) and
// announced to the viewers, which fetch it as CF_UNICODETEXT (CR LF line
// ends) or CF_TEXT. A copy on a viewer is fetched at once as text; the
// bridge then owns CLIPBOARD and serves it to X programs (UTF8_STRING,
// STRING, TEXT, TARGETS; LF line ends), and the other viewers hear of it.
//
// The X side runs on a thread of its own with its own connection; each
// viewer's channel runs on FreeRDP's clipboard thread of that viewer.
class ClipboardBridge
{
public:
    ~ClipboardBridge();

    bool start();
    void stop();

    // On the viewer's thread, at connect and disconnect.
    void attach(Viewer &viewer);
    void detach(Viewer &viewer);

private:
    // What the bridge keeps per viewer (the channel's custom pointer).
    struct Peer
    {
        ClipboardBridge *bridge = nullptr;
        CliprdrServerContext *context = nullptr;
        bool ready = false;      // capabilities exchanged
        UINT32 requested = 0;    // format asked of the viewer, 0 = none
    };

    static UINT onClientCapabilities(CliprdrServerContext *context,
                                     const CLIPRDR_CAPABILITIES *capabilities);
    static UINT onClientFormatList(CliprdrServerContext *context,
                                   const CLIPRDR_FORMAT_LIST *formatList);
    static UINT onClientFormatListResponse(CliprdrServerContext *context,
                                           const CLIPRDR_FORMAT_LIST_RESPONSE *response);
    static UINT onClientFormatDataRequest(CliprdrServerContext *context,
                                          const CLIPRDR_FORMAT_DATA_REQUEST *request);
    static UINT onClientFormatDataResponse(CliprdrServerContext *context,
                                           const CLIPRDR_FORMAT_DATA_RESPONSE *response);

    static void announce(CliprdrServerContext *context);
    void announceToAll(const Peer *except);
    void run();
    void handle(XEvent &event);
    void serve(const XSelectionRequestEvent &request);
    void readSelection(Atom property);

    std::thread m_thread;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_takeOwnership{false};

    // X side, used on the bridge thread only.
    Display *m_display = nullptr;
    Window m_window = 0;
    Atom m_clipboard = 0, m_utf8 = 0, m_targets = 0, m_text = 0, m_property = 0, m_incr = 0;
    int m_fixesEvent = 0;

    std::mutex m_lock; // guards everything below
    std::vector<Peer *> m_viewers;
    std::string m_text8;       // the clipboard's text, UTF-8 with LF line ends
    bool m_textFromX = false;  // the text came from the X side
    Peer *m_source = nullptr; // the viewer whose copy is held
};

#endif // NUVEK_RDP_CLIPBOARDBRIDGE_H
