// Our own channels' messages as a receiver meets them: the first byte picks
// the decoder, the rest is the whole message, header included.
#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxdesk/oxdesk_common.h"
#include "channels/oxpdu.h"
#include "channels/oxrail/oxrail_common.h"
#include "channels/oxshare/oxshare_common.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Text that came out of the wire must survive the way back unchanged.
void checkText(const std::string &utf8)
{
    const OxBytes utf16 = oxUtf8ToUtf16le(utf8);
    bool ok = false;
    if (oxUtf16leToUtf8(utf16.data(), utf16.size() / 2, &ok) != utf8 || !ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    OxPduReader body;
    if (!body.open(data + 1, size - 1))
        return 0;

    switch (data[0] % 10) {
    case 0: {
        uint16_t w, h;
        oxdesk::decodeSize(body, w, h);
        break;
    }
    case 1: {
        uint16_t a, b, c, d;
        oxdesk::decodeMinMaxInfo(body, a, b, c, d);
        break;
    }
    case 2: {
        oxrail::GeometryMessage geometry;
        oxrail::decodeGeometry(body, geometry);
        uint32_t id, other;
        oxrail::decodeZOrder(body, id, other);
        break;
    }
    case 3: {
        std::vector<oxrail::Rect16> monitors;
        if (oxrail::decodeMonitorLayout(body, monitors) && monitors.size() > oxrail::MaxMonitors)
            std::abort();
        break;
    }
    case 4: {
        uint32_t id;
        oxrail::decodeWindowId(body, id);
        oxshare::decodeU32(body, id);
        break;
    }
    case 5: {
        std::string key;
        if (oxshare::decodeStartSharing(body, key))
            checkText(key);
        break;
    }
    case 6: {
        oxshare::Status status;
        if (oxshare::decodeServerStatus(body, status)) {
            for (const oxshare::StatusEntry &entry : status.entries)
                checkText(entry.name);
        }
        break;
    }
    case 7: {
        uint16_t x, y;
        uint32_t flags;
        oxshare::decodeMouseEvent(body, x, y, flags);
        break;
    }
    case 8:
        oxcfg::decodeText(body);
        break;
    case 9: {
        bool ok = false;
        const std::string text = oxUtf16leToUtf8(body.current(), body.remaining() / 2, &ok);
        if (ok)
            checkText(text);
        oxUtf8ToUtf16le(std::string(reinterpret_cast<const char *>(body.current()), body.remaining()));
        break;
    }
    }
    return 0;
}
