#include "rdp/rdpownchannels.h"

#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_common.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "channels/oxrail/oxrail_main.h"
#include "channels/oxshare/oxshare_common.h"
#include "channels/oxshare/oxshare_main.h"
#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "rdp/rdpviewer.h"

#include <QMetaObject>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstring>

namespace {

RdpInstance *target(void *custom)
{
    auto *context = static_cast<RdpContext *>(custom);
    return context ? context->instance : nullptr;
}

UINT onDesktopResized(OxdeskClientContext *client, UINT16 width, UINT16 height)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxdeskDesktopResized", Qt::AutoConnection,
                                  Q_ARG(QSize, QSize(width, height)));
    return CHANNEL_RC_OK;
}

UINT onMinMaxInfo(OxdeskClientContext *client, UINT16 a, UINT16 b, UINT16 c, UINT16 d)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxdeskMinMaxInfo", Qt::AutoConnection,
                                  Q_ARG(QSize, QSize(a, b)), Q_ARG(QSize, QSize(c, d)));
    return CHANNEL_RC_OK;
}

UINT onClientId(OxshareClientContext *client, UINT32 id)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxshareClientId", Qt::AutoConnection,
                                  Q_ARG(ulong, id));
    return CHANNEL_RC_OK;
}

UINT onServerStatus(OxshareClientContext *client, BOOL active, const OxshareStatusEntry *entries,
                    UINT32 count)
{
    QList<RdpViewer> viewers;
    for (UINT32 i = 0; entries && i < count; ++i) {
        RdpViewer viewer;
        viewer.id = entries[i].id;
        viewer.name = QString::fromUtf8(entries[i].name, int(entries[i].nameLength));
        viewer.owner = entries[i].id == 0;
        viewer.controller = (entries[i].flags & oxshare::ControlFlags) != 0;
        viewers.append(viewer);
    }
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxshareServerStatus", Qt::AutoConnection,
                                  Q_ARG(bool, active != FALSE), Q_ARG(QList<RdpViewer>, viewers));
    return CHANNEL_RC_OK;
}

UINT onDisconnectInfo(OxshareClientContext *client, UINT32 value)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxshareDisconnectInfo", Qt::AutoConnection,
                                  Q_ARG(ulong, value));
    return CHANNEL_RC_OK;
}

UINT onMouseEvent(OxshareClientContext *client, UINT16 x, UINT16 y, UINT32 flags)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxshareMouseEvent", Qt::AutoConnection,
                                  Q_ARG(QPoint, QPoint(x, y)), Q_ARG(ulong, flags));
    return CHANNEL_RC_OK;
}

UINT onOptionsUpdatedNotify(OxcfgClientContext *client, const char *text)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxcfgOptionsUpdatedNotify", Qt::AutoConnection,
                                  Q_ARG(QString, QString::fromUtf8(text)));
    return CHANNEL_RC_OK;
}

UINT onSetOptionsResponse(OxcfgClientContext *client, const char *text)
{
    if (RdpInstance *instance = target(client->custom))
        QMetaObject::invokeMethod(instance, "handleOxcfgSetOptionsResponse", Qt::AutoConnection,
                                  Q_ARG(QString, QString::fromUtf8(text)));
    return CHANNEL_RC_OK;
}

bool is(const char *name, const char *channel)
{
    return std::strcmp(name, channel) == 0;
}

} // namespace

bool connectOwnRdpChannel(RdpContext *context, const char *name, void *clientInterface)
{
    if (is(name, OXDESK_CHANNEL_NAME)) {
        auto *client = static_cast<OxdeskClientContext *>(clientInterface);
        context->oxdeskClient = client;
        if (client) {
            client->custom = context;
            client->DesktopResized = onDesktopResized;
            client->MinMaxInfo = onMinMaxInfo;
        }
    } else if (is(name, OXRAIL_CHANNEL_NAME)) {
        auto *client = static_cast<OxrailClientContext *>(clientInterface);
        context->oxrailClient = client;
        if (client)
            client->custom = context;
    } else if (is(name, OXSHARE_CHANNEL_NAME)) {
        auto *client = static_cast<OxshareClientContext *>(clientInterface);
        context->oxshareClient = client;
        if (client) {
            client->custom = context;
            client->ClientId = onClientId;
            client->ServerStatus = onServerStatus;
            client->DisconnectInfo = onDisconnectInfo;
            client->MouseEvent = onMouseEvent;
        }
    } else if (is(name, OXCFG_CHANNEL_NAME)) {
        auto *client = static_cast<OxcfgClientContext *>(clientInterface);
        context->oxcfgClient = client;
        if (client) {
            client->custom = context;
            client->OptionsUpdatedNotify = onOptionsUpdatedNotify;
            client->SetOptionsResponse = onSetOptionsResponse;
        }
    } else {
        return false;
    }
    return true;
}

bool disconnectOwnRdpChannel(RdpContext *context, const char *name)
{
    if (is(name, OXDESK_CHANNEL_NAME))
        context->oxdeskClient = nullptr;
    else if (is(name, OXRAIL_CHANNEL_NAME))
        context->oxrailClient = nullptr;
    else if (is(name, OXSHARE_CHANNEL_NAME))
        context->oxshareClient = nullptr;
    else if (is(name, OXCFG_CHANNEL_NAME))
        context->oxcfgClient = nullptr;
    else
        return false;
    return true;
}
