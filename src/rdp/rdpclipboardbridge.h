#pragma once

#include <QClipboard>
#include <QList>
#include <QObject>

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
    bool ignoreClipboardChange = false;
    bool ignoreSelectionChange = false;
};
