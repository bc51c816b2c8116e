#include "windows/rdpsessionobjects.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"

#include <QDialog>
#include <QMetaObject>

// The dialogs are built separately; until a class is there, its object is treated as missing.
#if __has_include("windows/rdpoptionsdialog.h")
#include "windows/rdpoptionsdialog.h"
#define NUVEK_HAVE_RDP_OPTIONS_DIALOG 1
#endif
#if __has_include("windows/rdpsharingdialog.h")
#include "windows/rdpsharingdialog.h"
#define NUVEK_HAVE_RDP_SHARING_DIALOG 1
#endif

QObject *sessionInstance(const RdpContext *context)
{
    return context ? context->instance : nullptr;
}

QDialog *sessionOptionsDialog(const RdpContext *context)
{
#ifdef NUVEK_HAVE_RDP_OPTIONS_DIALOG
    return context ? context->optionsDialog : nullptr;
#else
    Q_UNUSED(context);
    return nullptr;
#endif
}

QDialog *sessionSharingDialog(const RdpContext *context)
{
#ifdef NUVEK_HAVE_RDP_SHARING_DIALOG
    return context ? context->sharingDialog : nullptr;
#else
    Q_UNUSED(context);
    return nullptr;
#endif
}

void requestSessionQuit(const RdpContext *context)
{
    if (QObject *instance = sessionInstance(context))
        QMetaObject::invokeMethod(instance, "quit", Qt::QueuedConnection);
}
