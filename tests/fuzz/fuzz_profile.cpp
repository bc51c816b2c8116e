// A profile file as it is found on disk: loaded through the schema check; a
// profile that loads must save and load again unchanged.
#include "connections/connection.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString fields(const Connection &c)
{
    return QStringList{c.uid().toString(), c.name(), c.host(), QString::number(c.port()), c.user(),
                       c.sci(), c.fips() ? QStringLiteral("fips") : QString()}
        .join(QLatin1Char('|'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_profile";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("profile.xml"));

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    // The mapping alone, also for documents the schema would refuse.
    QDomDocument document;
    if (document.setContent(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size))))
        Connection::fromXml(document);

    const Connection loaded = loadConnection(path);
    if (!loaded.isValid())
        return 0;
    QString error;
    const QString copy = dir.filePath(QStringLiteral("copy.xml"));
    if (!saveConnection(copy, loaded, error))
        std::abort();
    const Connection reloaded = loadConnection(copy);
    if (fields(reloaded) != fields(loaded)) {
        std::fprintf(stderr, "loaded [%s]\nreloaded [%s]\n", qPrintable(fields(loaded)), qPrintable(fields(reloaded)));
        std::abort();
    }
    return 0;
}
