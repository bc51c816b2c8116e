// Clipboard data from the session into the local clipboard and back: the
// first byte picks the format the session offers, the rest is its data.
#include "rdp/rdpclipboardbridge.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

namespace {

QByteArray sentData;

UINT captureResponse(CliprdrClientContext *, const CLIPRDR_FORMAT_DATA_RESPONSE *response)
{
    sentData = QByteArray(reinterpret_cast<const char *>(response->requestedFormatData),
                          int(response->dataLen));
    return CHANNEL_RC_OK;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_clipboard";
    static char *argv[] = {name, nullptr};
    static const bool platformSet = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    static CliprdrClientContext channel = [] {
        CliprdrClientContext c = {};
        c.ClientFormatDataResponse = captureResponse;
        return c;
    }();
    Q_UNUSED(platformSet);
    if (size < 1)
        return 0;

    const ulong format = (data[0] & 1) ? RdpClipboardBridge::Text : RdpClipboardBridge::UnicodeText;
    const QByteArray received(reinterpret_cast<const char *>(data + 1), int(size - 1));
    RdpClipboardBridge bridge([] { return &channel; });
    bridge.handleMonitorReady();
    bridge.handleServerFormatList({format});
    bridge.handleServerFormatDataResponse(received);

    // Asked back in the same format, the session gets no more than it sent:
    // line ends and trailing zeros only ever shrink it.
    sentData.clear();
    bridge.handleServerFormatDataRequest(format);
    if (sentData.size() > received.size())
        std::abort();
    RdpClipboardBridge::toLocalText(RdpClipboardBridge::toSessionText(QString::fromUtf8(received)), true);
    return 0;
}
