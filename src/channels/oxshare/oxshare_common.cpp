#include "channels/oxshare/oxshare_common.h"

namespace oxshare {

OxBytes encodeU32(uint16_t type, uint32_t value)
{
    return OxPduWriter(type, 4).u32(value).finish();
}

bool decodeU32(OxPduReader &body, uint32_t &value)
{
    return body.u32(value);
}

OxBytes encodeStopSharing()
{
    return OxPduWriter(StopSharing).finish();
}

OxBytes encodeStartSharing(const std::string &utf8Key)
{
    const OxBytes key = oxUtf8ToUtf16le(utf8Key);
    return OxPduWriter(StartSharing, key.size() + 2).bytes(key.data(), key.size()).u16(0).finish();
}

// Length in 16-bit units up to and including the first zero unit, or 0 when
// the body has none.
static size_t terminatedUnits(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i + 1 < size; i += 2) {
        if (data[i] == 0 && data[i + 1] == 0)
            return i / 2 + 1;
    }
    return 0;
}

bool decodeStartSharing(OxPduReader &body, std::string &utf8Key)
{
    const size_t units = terminatedUnits(body.current(), body.remaining());
    if (units == 0)
        return false;
    bool ok = false;
    utf8Key = oxUtf16leToUtf8(body.current(), units - 1, &ok);
    body.skip(units * 2);
    return ok;
}

OxBytes encodeServerStatus(const Status &status)
{
    OxPduWriter writer(ServerStatus);
    writer.u8(status.active ? 1 : 0);
    for (const StatusEntry &entry : status.entries) {
        const OxBytes name = oxUtf8ToUtf16le(entry.name);
        writer.u32(entry.id).u16(entry.flags).bytes(name.data(), name.size()).u16(0);
    }
    return writer.finish();
}

bool decodeServerStatus(OxPduReader &body, Status &status)
{
    status = Status();
    uint8_t active;
    if (!body.u8(active))
        return false;
    status.active = active != 0;
    while (body.remaining() >= 8) {
        StatusEntry entry;
        body.u32(entry.id);
        body.u16(entry.flags);
        const size_t units = terminatedUnits(body.current(), body.remaining());
        if (units == 0) {
            status.nameOverrun = true;
            status.entries.push_back(entry);
            body.skip(body.remaining());
            break;
        }
        bool ok = false;
        entry.name = oxUtf16leToUtf8(body.current(), units - 1, &ok);
        if (!ok)
            entry.name.clear();
        body.skip(units * 2);
        status.entries.push_back(entry);
    }
    return true;
}

OxBytes encodeMouseEvent(uint16_t x, uint16_t y, uint32_t flags)
{
    return OxPduWriter(MouseEvent, 8).u16(x).u16(y).u32(flags).finish();
}

bool decodeMouseEvent(OxPduReader &body, uint16_t &x, uint16_t &y, uint32_t &flags)
{
    return body.remaining() >= 8 && body.u16(x) && body.u16(y) && body.u32(flags);
}

} // namespace oxshare
