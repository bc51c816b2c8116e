#include "sessions/joinsharedsession.h"

#include "app/closehelper.h"
#include "app/errorbox.h"
#include "connections/linkfailure.h"
#include "link/askpasshandler.h"
#include "link/jsonrpchandler.h"
#include "link/operationstatusdialog.h"
#include "link/sshdevice.h"
#include "rdp/rdpinstance.h"
#include "sessions/sharingkey.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QVariantMap>

namespace {

// The texts of the join flow belong to the Connections window.
struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(ConnectionListWidget)
};

const int ConnectFailed = 131;
// The server refused the login: the key's password is no longer (or never was) valid.
const int LoginRefused = 9;

RdpInstance *newJoinInstance()
{
    auto *rdp = new RdpInstance;
    QObject::connect(rdp, &RdpInstance::finished, rdp, &QObject::deleteLater);
    QObject::connect(rdp, &RdpInstance::finished, rdp, [rdp] { reportJoinFinished(rdp); });
    CloseHelper::instance()->addObject(rdp);
    return rdp;
}

} // namespace

QObject *joinSharedSession(const QString &key, const QString &viewerName, bool fips)
{
    SharingKey parsed;
    if (!SharingKey::parse(key, &parsed)) {
        showErrorBox(Texts::tr("There was a problem joining the session."),
                     Texts::tr("Invalid sharing key."));
        return nullptr;
    }
    if (parsed.direct)
        return joinDirect(parsed.hostname, parsed.rdpPort, viewerName, parsed.password,
                          parsed.windowMode);

    // A link only for the tunnel: no command runs on the server, and the login name is asked
    // for. The device owns the JSON-RPC client (never called, but it reports a broken link)
    // and the askpass relay.
    auto *ssh = new SshDevice;
    QObject::connect(ssh, &SshDevice::finished, ssh, &QObject::deleteLater);
    auto *client = new JsonRpcHandler(ssh, ssh);
    QObject::connect(ssh, &SshDevice::finished, ssh, [ssh, client] { reportLinkFailure(ssh, client); });
    const quint16 rdpPort = parsed.rdpPort;
    const QString password = parsed.password;
    QObject::connect(ssh, &SshDevice::connected, ssh, [ssh, rdpPort, viewerName, password] {
        joinOverSsh(ssh, rdpPort, viewerName, password);
    });
    QLocalServer *askpassServer = createAskpassServer(ssh);

    auto *statusDialog = new OperationStatusDialog;
    QObject::connect(askpassServer, &QLocalServer::newConnection, statusDialog,
                     &OperationStatusDialog::handleNewAskpassConnections);
    QObject::connect(ssh, &SshDevice::finished, statusDialog, &QObject::deleteLater);
    QObject::connect(ssh, &SshDevice::connected, statusDialog, &QObject::deleteLater);
    // A device deleted from here tells no one that it finished: the dialog goes with it.
    QObject::connect(ssh, &QObject::destroyed, statusDialog, &QObject::deleteLater);
    QObject::connect(statusDialog, &QDialog::rejected, ssh, &QObject::deleteLater);

    ssh->connectTo(parsed.hostname, parsed.sshPort, QString(), QString(), fips,
                   askpassServer->fullServerName());
    statusDialog->setWindowTitle(parsed.hostname);
    statusDialog->open();
    return ssh;
}

RdpInstance *joinDirect(const QString &hostname, quint16 rdpPort, const QString &viewerName,
                        const QString &password, const QString &windowMode)
{
    RdpInstance *rdp = newJoinInstance();
    const QString title = Texts::tr("Viewing %1:%2").arg(hostname).arg(rdpPort);
    rdp->connectToSession(hostname, rdpPort, viewerName, password, 0, windowMode, title, true,
                          QVariantMap{{QStringLiteral("RemoteHost"), hostname}});
    return rdp;
}

RdpInstance *joinOverSsh(SshDevice *ssh, quint16 rdpPort, const QString &viewerName,
                         const QString &password)
{
    RdpInstance *rdp = newJoinInstance();
    // The tunnel ends with the viewing session.
    QObject::connect(rdp, &RdpInstance::finished, ssh, &QObject::deleteLater);
    const QString host = ssh->realHost();
    const QString title = Texts::tr("Viewing %1:%2").arg(host).arg(rdpPort);
    rdp->connectToSession(host, rdpPort, viewerName, password, ssh->tunnelPort(),
                          QStringLiteral("1024x768"), title, false,
                          QVariantMap{{QStringLiteral("RemoteHost"), host}});
    return rdp;
}

QMessageBox *reportJoinFinished(RdpInstance *rdp)
{
    const int code = rdp ? rdp->exitCode() : 0;
    if (code == 0 || code == 1)
        return nullptr;
    if (code == ConnectFailed)
        return showErrorBox(Texts::tr("There was a problem joining the session."),
                            Texts::tr("Make sure it is still running and that SSH tunneling is enabled."));
    if (code == LoginRefused)
        return showErrorBox(Texts::tr("There was a problem joining the session."),
                            Texts::tr("The session is no longer shared with this key."));
    return showErrorBox(Texts::tr("Oops! We are not sure what happened here."),
                        Texts::tr("Please contact %1 support if this happens again.")
                            .arg(QCoreApplication::organizationName()));
}
