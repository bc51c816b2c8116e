#include "windows/rdpsessionobjects.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "windows/rdpoptionsdialog.h"
#include "windows/rdpsharingdialog.h"

#include <QDialog>
#include <QMetaObject>

QObject *sessionInstance(const RdpContext *context)
{
    return context ? context->instance : nullptr;
}

QDialog *sessionOptionsDialog(const RdpContext *context)
{
    return context ? context->optionsDialog : nullptr;
}

QDialog *sessionSharingDialog(const RdpContext *context)
{
    return context ? context->sharingDialog : nullptr;
}

void requestSessionQuit(const RdpContext *context)
{
    if (QObject *instance = sessionInstance(context))
        QMetaObject::invokeMethod(instance, "quit", Qt::QueuedConnection);
}
