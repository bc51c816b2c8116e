#include "connections/linkfailure.h"

#include "app/errorbox.h"
#include "link/jsonrpchandler.h"
#include "link/sshdevice.h"

#include <QCoreApplication>
#include <QStringList>

#include <initializer_list>

namespace {

const char Context[] = "ConnectionListWidget";

bool containsAny(const QString &log, std::initializer_list<const char *> patterns)
{
    for (const char *pattern : patterns) {
        if (log.contains(QLatin1String(pattern), Qt::CaseSensitive))
            return true;
    }
    return false;
}

// OpenSSH's messages about local files it could not use: an identity named in the
// configuration, the configuration itself, a key.
bool isSshClientFileMessage(const QString &line)
{
    for (const char *prefix : {"no such identity: ", "Warning: Identity file ", "Load key \"",
                               "Can't open user config file ", "Bad owner or permissions on "}) {
        if (line.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

} // namespace

QString linkFailureMessage(const QStringList &log, const QString &errorString, const QString &user,
                           const QString &host)
{
    // The SSH client's own verbose lines say nothing about why the link failed, but
    // some of them look as if they did: OpenSSH reports every known-hosts file it does
    // not find with "No such file or directory". They are left out of the search.
    //
    // The log falls in two parts: the SSH client's login, up to plink's "Access granted",
    // and then whatever the server program writes. A failed login, an unknown host or a
    // timeout is told by the first part, a missing server program by the second. Without
    // "Access granted" the program part is what is left once the client's own messages
    // about files it could not read (identities, configuration) are left out: they end
    // the same way a shell's "No such file or directory" does.
    QStringList login;
    QStringList program;
    bool granted = false;
    for (const QString &entry : log) {
        for (const QString &line : entry.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("debug")))
                continue;
            if (!granted && line.contains(QLatin1String("Access granted"))) {
                granted = true;
                program.clear();
                continue;
            }
            if (granted) {
                program << line;
                continue;
            }
            login << line;
            if (!isSshClientFileMessage(line))
                program << line;
        }
    }
    const QString text = login.join(QLatin1Char('\n'));
    const QString programText = program.join(QLatin1Char('\n'));

    // The first case that matches wins: a missing server program is reported even when
    // the log also shows a timeout, say.
    if (containsAny(programText, {"command not found", "not found", "error while loading shared libraries",
                                  "No such file or directory"})) {
        return QCoreApplication::translate(Context,
                                           "Unable to contact the server. Check that the server is "
                                           "properly installed and that the SCI is accessible to "
                                           "the user \"%1\".")
            .arg(user);
    }
    if (containsAny(text, {"Too many authentication failures", "No more authentication methods to try"}))
        return QCoreApplication::translate(Context, "Unable to authenticate the user \"%1\".").arg(user);
    if (containsAny(text, {"Host does not exist", "no address associated with name",
                          "Could not resolve hostname"})) {
        return QCoreApplication::translate(
                   Context, "The host \"%1\" was not recognized. Make sure the hostname is correct.")
            .arg(host);
    }
    if (containsAny(text, {"Connection timed out", "Attempt to connect timed out"})) {
        return QCoreApplication::translate(
                   Context, "Unable to connect to the host \"%1\". The host may be down.")
            .arg(host);
    }
    if (containsAny(text, {"plink: unknown option"})) {
        return QCoreApplication::translate(
                   Context, "The program \"%1\" failed to start. The %2 install may be corrupt.")
            .arg(QStringLiteral("plink"), QCoreApplication::applicationName());
    }
    if (containsAny(text, {"ssh: illegal option"})) {
        return QCoreApplication::translate(
                   Context, "The program \"%1\" failed to start. Make sure a version of %2 is installed.")
            .arg(QStringLiteral("ssh"), QStringLiteral("OpenSSH"));
    }
    return errorString;
}

QMessageBox *reportLinkFailure(SshDevice *device, JsonRpcHandler *client)
{
    if (!device)
        return nullptr;
    const QString problem =
        QCoreApplication::translate(Context, "There was a problem with the connection.");
    if (device->status()) {
        // A clean end, unless the conversation itself broke down.
        if (client && !client->isOk())
            return showErrorBox(problem, client->errorString());
        return nullptr;
    }
    const QStringList log = device->log();
    return showErrorBox(problem,
                        linkFailureMessage(log, device->errorString(), device->user(), device->host()),
                        log.join(QLatin1Char('\n')));
}
