#include "support/serversessions.h"

#include "link/netstring.h"
#include "support/sshdfixture.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

QStringList terminateServerSessions(const SshdFixture &sshd, const QString &sessionsFolder)
{
    // Each host keeps its sessions in a folder of its own: <sessionsFolder>/<host>/<id>.
    QStringList ids;
    for (const QFileInfo &entry : QDir(sessionsFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (QFileInfo::exists(entry.filePath() + "/session.json"))
            ids << entry.fileName();
        for (const QFileInfo &session : QDir(entry.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (QFileInfo::exists(session.filePath() + "/session.json"))
                ids << session.fileName();
    }
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
