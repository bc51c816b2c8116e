#pragma once

#include <QClipboard>
#include <QList>
#include <QMimeData>
#include <QObject>
#include <QPointer>

#include <functional>

#include <freerdp/client/cliprdr.h>

struct RdpContext;

// Keeps the local clipboard and the session's clipboard in step for plain text, over
// FreeRDP's clipboard channel client. All of it runs on the GUI thread: the channel's
// callbacks (installCallbacks) only queue calls of the connection's slots, which hand them on
// to the handle* functions here.
//
// The session is a Linux desktop and so is this client: the session always gets line feeds,
// the local clipboard gets the line ends of this platform.
//
// Only the clipboard proper is announced to the session. The selection (X11's PRIMARY)
// changes whenever the user marks text anywhere; announcing that would take the session's
// clipboard away, with all its formats, each time something is merely selected here.
//
// A change of the local clipboard is the bridge's own when the clipboard still holds what
// the bridge last put there (or is still empty after the bridge cleared it). The platform
// may report one change of the bridge's several times (X11 does when a clipboard this
// program owns is cleared) or not at all (clearing a clipboard nobody owns), so the bridge
// looks at the clipboard itself instead of counting notifications.
class RdpClipboardBridge : public QObject
{
    Q_OBJECT

public:
    enum Format : unsigned long { UnicodeText = 13, Text = 1 };

    // client: the channel client of the moment; null while the channel is not connected.
    explicit RdpClipboardBridge(std::function<CliprdrClientContext *()> client,
                                QObject *parent = nullptr);

    // Back to "not ready" (the connection ended).
    void reset();

    bool isReady() const { return clipboardReady; }
    int requestedFormat() const { return m_requestedFormat; }
    int pendingRequests() const { return m_pendingRequests; }

    // Installs the callbacks on a newly connected channel client; they queue calls of the
    // slots "handleCliprdr..." of context->instance.
    static void installCallbacks(CliprdrClientContext *client, RdpContext *context);

    // Line-end conversions at the border.
    static QString toSessionText(const QString &localText);
    static QString toLocalText(const QString &sessionText, bool crlf);

public slots:
    void handleMonitorReady();
    void handleServerFormatList(const QList<ulong> &formatIds);
    void handleServerFormatDataRequest(ulong formatId);
    void handleServerFormatDataResponse(const QByteArray &data);
    void sendDataFormats(QClipboard::Mode mode);

private:
    void announceFormats();
    void sendFormatDataResponse(const QByteArray &data, bool ok);

    std::function<CliprdrClientContext *()> client;
    bool clipboardReady = false;
    int m_requestedFormat = -1;
    int m_pendingRequests = 0;
    // What the bridge last did to the local clipboard: nothing yet, cleared it, or put
    // bridgeData there (null once the clipboard dropped it).
    enum class BridgeState { None, Cleared, Data };
    bool holdsBridgeState() const;
    void setLocalText(const QString &text);

    BridgeState bridgeState = BridgeState::None;
    QPointer<QMimeData> bridgeData;
};
