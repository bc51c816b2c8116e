#include "support/serversessions.h"

#include "link/netstring.h"
#include "support/sshdfixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

QStringList terminateServerSessions(const SshdFixture &sshd, const QString &sessionsFolder)
{
    const QStringList ids = QDir(sessionsFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty())
        return ids;
    QByteArray input;
    for (const QString &id : ids) {
        const QJsonObject request{{"jsonrpc", "2.0"},
                                  {"id", id},
                                  {"method", "Nuvek.terminate"},
                                  {"params", QJsonObject{{"id", id}}}};
        input += encodeNetString(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    }
    QProcess program;
    program.start("runuser", {"-u", sshd.user(), "--", sshd.binPath() + "/nuvek2_sci"});
    if (!program.waitForStarted(5000))
        return ids;
    program.write(input);
    program.closeWriteChannel();
    program.waitForFinished(30000);
    return ids;
}
