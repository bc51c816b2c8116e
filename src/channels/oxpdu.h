#ifndef NUVEK_CHANNELS_OXPDU_H
#define NUVEK_CHANNELS_OXPDU_H

// Messages of our own virtual channels (oxdesk, oxrail, oxshare, oxcfg):
// an 8-byte header, then the body; every number little-endian.
//
//   offset 0  u16  message type
//   offset 2  u16  reserved, sent as 0
//   offset 4  u32  body length (message length - 8)
//   offset 8  ...  body
//
// Receivers use only the type and take the body to the end of the
// reassembled channel message. This code is shared by the client's channel
// add-ins and the session's RDP server, and uses neither Qt nor FreeRDP.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using OxBytes = std::vector<uint8_t>;

// Builds one message: the header first, body fields appended in order.
class OxPduWriter
{
public:
    static constexpr size_t HeaderSize = 8;

    explicit OxPduWriter(uint16_t type, size_t bodySizeHint = 0);

    OxPduWriter &u8(uint8_t value);
    OxPduWriter &u16(uint16_t value);
    OxPduWriter &u32(uint32_t value);
    OxPduWriter &i16(int16_t value);
    OxPduWriter &i32(int32_t value);
    OxPduWriter &bytes(const void *data, size_t size);

    // The whole message with the body length filled in.
    OxBytes finish();

private:
    OxBytes m_data;
};

// Reads one received message. open() fails for a message shorter than its
// header; the get functions fail (and read nothing) past the end.
class OxPduReader
{
public:
    bool open(const uint8_t *data, size_t size);
    bool open(const OxBytes &message) { return open(message.data(), message.size()); }

    uint16_t type() const { return m_type; }
    size_t remaining() const { return m_size - m_pos; }
    const uint8_t *current() const { return m_body + m_pos; }

    bool u8(uint8_t &value);
    bool u16(uint16_t &value);
    bool u32(uint32_t &value);
    bool i16(int16_t &value);
    bool i32(int32_t &value);
    bool skip(size_t size);

private:
    const uint8_t *m_body = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    uint16_t m_type = 0;
};

// UTF-16LE text as it travels in oxshare messages. fromUtf16le stops at the
// first 16-bit zero (or at the end) and fails on broken surrogate pairs;
// toUtf16le replaces broken UTF-8 with U+FFFD.
std::string oxUtf16leToUtf8(const uint8_t *data, size_t units, bool *ok);
OxBytes oxUtf8ToUtf16le(const std::string &text);

#endif // NUVEK_CHANNELS_OXPDU_H
