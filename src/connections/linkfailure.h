#pragma once

#include <QString>
#include <QStringList>

class JsonRpcHandler;
class QMessageBox;
class SshDevice;

// Explains to the user why a link to a server ended, once its device has reported
// finished(): a failed link gets the error box with a message picked from the SSH
// client's log (the log itself goes into the details); a clean end shows the
// JSON-RPC client's error, if the conversation broke, and nothing otherwise.
// Returns the box shown, or null.
QMessageBox *reportLinkFailure(SshDevice *device, JsonRpcHandler *client);

// The message for a failed link whose SSH log holds the entries `log`: the first
// known failure found in the log (the SSH client's own "debug" lines aside), else
// `errorString` as it is. `user` and `host` are those of the link.
QString linkFailureMessage(const QStringList &log, const QString &errorString, const QString &user,
                           const QString &host);
