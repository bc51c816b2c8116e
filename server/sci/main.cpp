// nuvek2_sci: the command program a Nuvek client runs on the server through SSH.
#include "sciserver.h"

#include "app/datafolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <csignal>

namespace {

// The session's RDP server: NUVEK2_RDP_PROGRAM when set, else beside the
// program, in ../lib/nuvek2 of it, or in the PATH.
QString findRdpProgram()
{
    const QString chosen = qEnvironmentVariable("NUVEK2_RDP_PROGRAM");
    if (!chosen.isEmpty())
        return QStandardPaths::findExecutable(chosen);
    const QString name = QStringLiteral("nuvek2_rdp");
    const QString base = QCoreApplication::applicationDirPath();
    for (const QString &dir : {base, base + QStringLiteral("/../lib/nuvek2")}) {
        const QFileInfo info(dir + QLatin1Char('/') + name);
        if (info.isFile() && info.isExecutable())
            return info.canonicalFilePath();
    }
    return QStandardPaths::findExecutable(name);
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
    SciServer server(data.filePath(QStringLiteral("server")), findRdpProgram());
    return server.run(0, 1);
}
