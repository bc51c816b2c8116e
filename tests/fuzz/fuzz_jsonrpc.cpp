// The client's JSON-RPC handler reading what the server's command program
// sends. Two calls are pending; where the input holds "0"*32 or "1"*32 (the
// length of a call id), the ids of those calls stand in, so replies can reach
// their callbacks. The second callback destroys the handler, the first calls
// again from inside the callback.
#include "link/jsonrpchandler.h"

#include <QBuffer>
#include <QPointer>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray input(reinterpret_cast<const char *>(data), int(size));

    QBuffer device;
    device.open(QIODevice::ReadOnly);
    QPointer<JsonRpcHandler> handler = new JsonRpcHandler(&device);
    const QString first = handler->call(QStringLiteral("Nuvek.version"), QJsonObject(),
                                        [&handler](const QString &, const QJsonValue &, const QJsonValue &) {
                                            handler->call(QStringLiteral("Nuvek.list"), QJsonObject());
                                        });
    const QString second = handler->call(QStringLiteral("Nuvek.list"), QJsonObject(),
                                         [&handler](const QString &, const QJsonValue &, const QJsonValue &) {
                                             delete handler.data();
                                         });
    input.replace(QByteArray(32, '0'), first.toLatin1());
    input.replace(QByteArray(32, '1'), second.toLatin1());

    // Two portions, the split taken from the first byte.
    const int split = input.isEmpty() ? 0 : int(uint8_t(input[0]) * qint64(input.size()) / 256);
    device.buffer().append(input.left(split));
    emit device.readyRead();
    if (handler && device.isOpen()) {
        device.buffer().append(input.mid(split));
        emit device.readyRead();
    }
    if (handler) {
        if (!handler->isOk() && handler->errorString().isEmpty())
            std::abort();
        delete handler.data();
    }
    return 0;
}
