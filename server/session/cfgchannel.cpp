#include "cfgchannel.h"

#include "channels/oxcfg/oxcfg_common.h"
#include "sessionserver.h"
#include "viewer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

OxBytes CfgChannel::optionsUpdated(const std::string &json)
{
    return oxcfg::encodeText(oxcfg::OptionsUpdatedNotify, json);
}

void CfgChannel::received(SessionServer &server, Viewer &viewer, OxPduReader &message)
{
    if (message.type() != oxcfg::SetOptionsRequest) {
        std::fprintf(stderr, "nuvek2_rdp: oxcfg message of type %u dropped\n", message.type());
        return;
    }
    std::string error;
    QJsonObject answer;
    if (server.setOptions(oxcfg::decodeText(message), error))
        answer.insert(QStringLiteral("success"), true);
    else
        answer.insert(QStringLiteral("error"), QString::fromStdString(error));
    viewer.cfg.send(oxcfg::encodeText(
        oxcfg::SetOptionsResponse,
        QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString()));
}
