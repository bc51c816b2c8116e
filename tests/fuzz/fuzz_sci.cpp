// One request payload as the server's command program receives it, answered by
// a fresh server on an empty data folder. "Nuvek.start" is left out: it would
// start real display servers; only its geometry parsing is fed.
#include "sciserver.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_sci";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir home;
    static const bool homeSet = qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    Q_UNUSED(homeSet);

    const QByteArray payload(reinterpret_cast<const char *>(data), int(size));
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return 0;
    const QJsonObject request = document.object();
    if (request.value(QStringLiteral("method")).toString() == QLatin1String("Nuvek.start")) {
        int width = 0, height = 0;
        const QString geometry =
            request.value(QStringLiteral("params")).toObject().value(QStringLiteral("geometry")).toString();
        if (SessionStore::parseGeometry(geometry, width, height) && (width <= 0 || height <= 0))
            std::abort();
        return 0;
    }

    QTemporaryDir dataDir(home.filePath(QStringLiteral("server-XXXXXX")));
    SciServer server(dataDir.path(), QString());
    const QJsonObject reply = server.handleRequest(request);
    // Every request with an id gets exactly one of result and error.
    if (!request.value(QStringLiteral("id")).isUndefined()
        && reply.contains(QStringLiteral("result")) == reply.contains(QStringLiteral("error")))
        std::abort();
    return 0;
}
