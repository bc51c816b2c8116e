#ifndef NUVEK_RDP_CFGCHANNEL_H
#define NUVEK_RDP_CFGCHANNEL_H

#include "channels/oxpdu.h"

#include <string>

class SessionServer;
struct Viewer;

// "oxcfg": the session's encoding options as JSON. Each viewer hears the
// options when it connects and whenever any viewer changes them.
class CfgChannel
{
public:
    static OxBytes optionsUpdated(const std::string &json);
    static void received(SessionServer &server, Viewer &viewer, OxPduReader &message);
};

#endif // NUVEK_RDP_CFGCHANNEL_H
