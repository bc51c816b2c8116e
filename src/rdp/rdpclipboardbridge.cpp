#include "rdp/rdpclipboardbridge.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <freerdp/channels/cliprdr.h>

namespace {

// The connection that owns a channel client, as the target of queued slot calls.
QObject *callbackTarget(CliprdrClientContext *client)
{
    auto *context = client ? static_cast<RdpContext *>(client->custom) : nullptr;
    return context ? context->instance : nullptr;
}

UINT onMonitorReady(CliprdrClientContext *client, const CLIPRDR_MONITOR_READY *)
{
    if (QObject *target = callbackTarget(client))
        QMetaObject::invokeMethod(target, "handleCliprdrMonitorReady", Qt::AutoConnection);
    return CHANNEL_RC_OK;
}

UINT onServerFormatList(CliprdrClientContext *client, const CLIPRDR_FORMAT_LIST *formatList)
{
    QList<ulong> ids;
    if (formatList && formatList->formats) {
        for (UINT32 i = 0; i < formatList->numFormats; ++i)
            ids.append(formatList->formats[i].formatId);
    }
    if (QObject *target = callbackTarget(client))
        QMetaObject::invokeMethod(target, "handleCliprdrServerFormatList", Qt::AutoConnection,
                                  Q_ARG(QList<ulong>, ids));
    return CHANNEL_RC_OK;
}

UINT onServerFormatListResponse(CliprdrClientContext *, const CLIPRDR_FORMAT_LIST_RESPONSE *)
{
    return CHANNEL_RC_OK;
}

UINT onServerFormatDataRequest(CliprdrClientContext *client,
                               const CLIPRDR_FORMAT_DATA_REQUEST *request)
{
    if (!request)
        return CHANNEL_RC_OK;
    if (QObject *target = callbackTarget(client))
        QMetaObject::invokeMethod(target, "handleCliprdrServerFormatDataRequest",
                                  Qt::AutoConnection,
                                  Q_ARG(ulong, ulong(request->requestedFormatId)));
    return CHANNEL_RC_OK;
}

UINT onServerFormatDataResponse(CliprdrClientContext *client,
                                const CLIPRDR_FORMAT_DATA_RESPONSE *response)
{
    QByteArray data;
    if (response && response->requestedFormatData && response->dataLen > 0)
        data = QByteArray(reinterpret_cast<const char *>(response->requestedFormatData),
                          int(qMin<UINT32>(response->dataLen, INT_MAX)));
    if (QObject *target = callbackTarget(client))
        QMetaObject::invokeMethod(target, "handleCliprdrServerFormatDataResponse",
                                  Qt::AutoConnection, Q_ARG(QByteArray, data));
    return CHANNEL_RC_OK;
}

} // namespace

RdpClipboardBridge::RdpClipboardBridge(std::function<CliprdrClientContext *()> client,
                                       QObject *parent)
    : QObject(parent), client(std::move(client))
{
    qRegisterMetaType<QList<ulong>>("QList<ulong>");
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        connect(clipboard, &QClipboard::changed, this, &RdpClipboardBridge::sendDataFormats);
}

void RdpClipboardBridge::reset()
{
    clipboardReady = false;
    m_requestedFormat = -1;
    m_pendingRequests = 0;
}

void RdpClipboardBridge::installCallbacks(CliprdrClientContext *client, RdpContext *context)
{
    if (!client)
        return;
    client->custom = context;
    client->MonitorReady = onMonitorReady;
    client->ServerFormatList = onServerFormatList;
    client->ServerFormatListResponse = onServerFormatListResponse;
    client->ServerFormatDataRequest = onServerFormatDataRequest;
    client->ServerFormatDataResponse = onServerFormatDataResponse;
}

QString RdpClipboardBridge::toSessionText(const QString &localText)
{
    QString text = localText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

QString RdpClipboardBridge::toLocalText(const QString &sessionText, bool crlf)
{
    QString text = sessionText;
    while (text.endsWith(QChar(0)))
        text.chop(1);
    // The wire may carry either line end (CF_UNICODETEXT's own is CR LF); the local
    // clipboard gets its platform's.
    if (crlf)
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    else
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

void RdpClipboardBridge::handleMonitorReady()
{
    CliprdrClientContext *c = client();
    if (c && c->ClientCapabilities) {
        CLIPRDR_GENERAL_CAPABILITY_SET general = {};
        general.capabilitySetType = CB_CAPSTYPE_GENERAL;
        general.capabilitySetLength = CB_CAPSTYPE_GENERAL_LEN;
        general.version = CB_CAPS_VERSION_2;
        general.generalFlags = CB_USE_LONG_FORMAT_NAMES;
        CLIPRDR_CAPABILITIES capabilities = {};
        capabilities.msgType = CB_CLIP_CAPS;
        capabilities.cCapabilitiesSets = 1;
        capabilities.capabilitySets = reinterpret_cast<CLIPRDR_CAPABILITY_SET *>(&general);
        c->ClientCapabilities(c, &capabilities);
    }
    clipboardReady = true;
    announceFormats();
}

void RdpClipboardBridge::announceFormats()
{
    CliprdrClientContext *c = client();
    if (!c || !c->ClientFormatList)
        return;
    CLIPRDR_FORMAT formats[2] = {};
    formats[0].formatId = UnicodeText;
    formats[1].formatId = Text;
    CLIPRDR_FORMAT_LIST list = {};
    list.msgType = CB_FORMAT_LIST;
    list.numFormats = 2;
    list.formats = formats;
    c->ClientFormatList(c, &list);
}

void RdpClipboardBridge::sendDataFormats(QClipboard::Mode mode)
{
    if (mode != QClipboard::Clipboard || !clipboardReady || holdsBridgeState())
        return;
    bridgeState = BridgeState::None;
    announceFormats();
}

bool RdpClipboardBridge::holdsBridgeState() const
{
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    switch (bridgeState) {
    case BridgeState::Cleared: {
        const QMimeData *data = clipboard->mimeData(QClipboard::Clipboard);
        return !data || data->formats().isEmpty();
    }
    case BridgeState::Data:
        return bridgeData && clipboard->mimeData(QClipboard::Clipboard) == bridgeData.data();
    case BridgeState::None:
        break;
    }
    return false;
}

void RdpClipboardBridge::setLocalText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    // The state is recorded first: the platform may report the change at once.
    if (text.isNull()) {
        bridgeState = BridgeState::Cleared;
        bridgeData = nullptr;
        clipboard->clear(QClipboard::Clipboard);
    } else {
        auto *data = new QMimeData;
        data->setText(text);
        bridgeState = BridgeState::Data;
        bridgeData = data;
        clipboard->setMimeData(data, QClipboard::Clipboard);
    }
    if (clipboard->supportsSelection()) {
        if (text.isNull())
            clipboard->clear(QClipboard::Selection);
        else
            clipboard->setText(text, QClipboard::Selection);
    }
}

void RdpClipboardBridge::handleServerFormatList(const QList<ulong> &formatIds)
{
    CliprdrClientContext *c = client();
    if (c && c->ClientFormatListResponse) {
        CLIPRDR_FORMAT_LIST_RESPONSE response = {};
        response.msgType = CB_FORMAT_LIST_RESPONSE;
        response.msgFlags = CB_RESPONSE_OK;
        c->ClientFormatListResponse(c, &response);
    }

    // The session owns the clipboard now; its text is fetched below.
    setLocalText(QString());

    int format = -1;
    if (formatIds.contains(UnicodeText))
        format = UnicodeText;
    else if (formatIds.contains(Text))
        format = Text;
    if (format < 0)
        return;

    m_pendingRequests += 1;
    m_requestedFormat = format;
    c = client();
    if (c && c->ClientFormatDataRequest) {
        CLIPRDR_FORMAT_DATA_REQUEST request = {};
        request.msgType = CB_FORMAT_DATA_REQUEST;
        request.dataLen = 4;
        request.requestedFormatId = UINT32(format);
        c->ClientFormatDataRequest(c, &request);
    }
}

void RdpClipboardBridge::handleServerFormatDataResponse(const QByteArray &data)
{
    // Only the answer to the last request counts; an answer nobody asked for is dropped.
    if (m_pendingRequests <= 0)
        return;
    m_pendingRequests -= 1;
    if (m_pendingRequests > 0)
        return;

    QString text;
    if (m_requestedFormat == UnicodeText) {
        const int length = data.size() / 2;
        text.resize(length);
        const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
        for (int i = 0; i < length; ++i)
            text[i] = QChar(ushort(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    } else if (m_requestedFormat == Text) {
        text = QString::fromLatin1(data);
    } else {
        return;
    }

#ifdef Q_OS_WIN
    const bool crlf = true;
#else
    const bool crlf = false;
#endif
    text = toLocalText(text, crlf);

    if (text.isNull())
        text = QLatin1String("");
    setLocalText(text);
}

void RdpClipboardBridge::handleServerFormatDataRequest(ulong formatId)
{
    QString text;
    // The clipboard alone: what is merely selected here was never offered to the session.
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        text = clipboard->text(QClipboard::Clipboard);

    QByteArray data;
    if (!text.isEmpty()) {
        text = toSessionText(text);
        if (formatId == UnicodeText) {
            data.reserve(text.size() * 2);
            for (const QChar ch : qAsConst(text)) {
                data.append(char(ch.unicode() & 0xff));
                data.append(char(ch.unicode() >> 8));
            }
        } else if (formatId == Text) {
            data = text.toLatin1();
        }
    }
    sendFormatDataResponse(data, !data.isEmpty());
}

void RdpClipboardBridge::sendFormatDataResponse(const QByteArray &data, bool ok)
{
    CliprdrClientContext *c = client();
    if (!c || !c->ClientFormatDataResponse)
        return;
    CLIPRDR_FORMAT_DATA_RESPONSE response = {};
    response.msgType = CB_FORMAT_DATA_RESPONSE;
    response.msgFlags = ok ? CB_RESPONSE_OK : CB_RESPONSE_FAIL;
    response.dataLen = ok ? UINT32(data.size()) : 0;
    response.requestedFormatData = ok ? reinterpret_cast<const BYTE *>(data.constData()) : nullptr;
    c->ClientFormatDataResponse(c, &response);
}
