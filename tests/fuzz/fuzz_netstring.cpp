// The two ways the client reads NetStrings from a device: the server's stream
// (anything before the start marker, then frames) and one frame alone.
#include "link/netstring.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));

    QBuffer stream;
    stream.setData(input);
    stream.open(QIODevice::ReadOnly);
    NetStringReader streamReader(&stream, "NetString");
    streamReader.readStream([](const QByteArray &payload) {
        if (payload.size() > NetStringMaxLength)
            std::abort();
        return true;
    });
    if (streamReader.state() == NetStringReader::Failed && streamReader.errorString().isEmpty())
        std::abort();

    QBuffer single;
    single.setData(input);
    single.open(QIODevice::ReadOnly);
    NetStringReader singleReader(&single, "NetString");
    QByteArray payload;
    if (singleReader.readSingleFrame(payload) && payload.size() > NetStringMaxLength)
        std::abort();
    return 0;
}
