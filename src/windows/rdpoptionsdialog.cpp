#include "windows/rdpoptionsdialog.h"

RdpOptionsDialog::RdpOptionsDialog(RdpContext *context, const QString &remoteHost, const QString &sessionId,
                                   QWidget *parent)
    : QDialog(parent), context(context), remoteHost(remoteHost), sessionId(sessionId)
{
}

void RdpOptionsDialog::handleOptionsUpdated(const QString &json)
{
    Q_UNUSED(json);
}

void RdpOptionsDialog::handleSetOptionsResponse(const QString &json)
{
    Q_UNUSED(json);
}
