// nuvek2_sci: the command program a Nuvek client runs on the server through SSH.
#include "sciserver.h"

#include "app/datafolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>

namespace {

// The RDP login library: beside the program, or in ../lib/nuvek2 of it.
QString findAuthLibrary()
{
    const QString base = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {base + QStringLiteral("/libnuvek2_rdpauth.so"),
                                     base + QStringLiteral("/../lib/nuvek2/libnuvek2_rdpauth.so")}) {
        const QFileInfo info(candidate);
        // LD_PRELOAD splits its value at blanks and colons.
        const QString path = info.canonicalFilePath();
        if (info.isFile() && !path.contains(QLatin1Char(' ')) && !path.contains(QLatin1Char(':')))
            return path;
    }
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    // A dropped link shows up as the end of the input or a failed write; the
    // sessions run on in their own process groups either way.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NUVEK_VERSION));

    const QDir data = userDataDir();
    if (data.path().isEmpty() || data.path() == QLatin1String(".")) {
        std::fputs("nuvek2_sci: no home folder to keep the sessions in\n", stderr);
        return 1;
    }
    SciServer server(data.filePath(QStringLiteral("server")), findAuthLibrary());
    return server.run(0, 1);
}
