#pragma once

#include <QDialog>
#include <QString>

struct RdpContext;

// The session's encoding and zoom options. The encoding options live on the
// server and travel as JSON over the oxcfg channel; the user's choices are
// remembered per host (encoding) and per session (zoom).
class RdpOptionsDialog : public QDialog
{
    Q_OBJECT

public:
    RdpOptionsDialog(RdpContext *context, const QString &remoteHost, const QString &sessionId,
                     QWidget *parent = nullptr);

    // The server's options report (oxcfg), and its answer to a set request.
    void handleOptionsUpdated(const QString &json);
    void handleSetOptionsResponse(const QString &json);

private:
    RdpContext *context;
    QString remoteHost;
    QString sessionId;
};
