#pragma once

#include <QString>

class JsonRpcHandler;
class QMessageBox;
class SshDevice;

// Explains to the user why a link to a server ended, once its device has reported
// finished(): a failed link gets the error box with a message picked from the SSH
// client's log (the log itself goes into the details); a clean end shows the
// JSON-RPC client's error, if the conversation broke, and nothing otherwise.
// Returns the box shown, or null.
QMessageBox *reportLinkFailure(SshDevice *device, JsonRpcHandler *client);

// The message for a failed link whose SSH log is `log`: the first known failure found
// in the log, else `errorString` as it is. `user` and `host` are those of the link.
QString linkFailureMessage(const QString &log, const QString &errorString, const QString &user,
                           const QString &host);
