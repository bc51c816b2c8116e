#pragma once

class QDialog;
class QObject;
struct RdpContext;

// The session objects a window reaches through the context, as the Qt types it needs.
// Null when the object is missing.
QObject *sessionInstance(const RdpContext *context);
QDialog *sessionOptionsDialog(const RdpContext *context);
QDialog *sessionSharingDialog(const RdpContext *context);

// Asks the session's connection to end, after the caller's event handler returned.
void requestSessionQuit(const RdpContext *context);
