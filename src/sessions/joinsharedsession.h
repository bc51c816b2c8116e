#pragma once

#include <QString>

class QMessageBox;
class QObject;
class RdpInstance;
class SshDevice;

// Joining a session that someone shares, from its sharing key: straight to the session's RDP
// port when the key says so, else through an SSH link of its own, made only for the tunnel.
// No profile and no Sessions window are involved.

// Starts joining. Returns what it started (the RdpInstance of a direct join, the SshDevice of
// a join over SSH), or null when the key is not valid: then the error box is shown.
QObject *joinSharedSession(const QString &key, const QString &viewerName, bool fips);

// Views the session at hostname:rdpPort directly (TLS).
RdpInstance *joinDirect(const QString &hostname, quint16 rdpPort, const QString &viewerName,
                        const QString &password, const QString &windowMode);

// Views the session through the tunnel of an authenticated SSH link; the link ends with the
// viewing session.
RdpInstance *joinOverSsh(SshDevice *ssh, quint16 rdpPort, const QString &viewerName,
                         const QString &password);

// Explains why a joined session ended, when that was not the user's doing.
QMessageBox *reportJoinFinished(RdpInstance *rdp);
