#include "channels/oxpdu.h"

#include <cstring>

OxPduWriter::OxPduWriter(uint16_t type, size_t bodySizeHint)
{
    m_data.reserve(HeaderSize + bodySizeHint);
    u16(type);
    u16(0);
    u32(0); // body length, filled in by finish()
}

OxPduWriter &OxPduWriter::u8(uint8_t value)
{
    m_data.push_back(value);
    return *this;
}

OxPduWriter &OxPduWriter::u16(uint16_t value)
{
    m_data.push_back(uint8_t(value));
    m_data.push_back(uint8_t(value >> 8));
    return *this;
}

OxPduWriter &OxPduWriter::u32(uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_data.push_back(uint8_t(value >> shift));
    return *this;
}

OxPduWriter &OxPduWriter::i16(int16_t value)
{
    return u16(uint16_t(value));
}

OxPduWriter &OxPduWriter::i32(int32_t value)
{
    return u32(uint32_t(value));
}

OxPduWriter &OxPduWriter::bytes(const void *data, size_t size)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    m_data.insert(m_data.end(), p, p + size);
    return *this;
}

OxBytes OxPduWriter::finish()
{
    const uint32_t length = uint32_t(m_data.size() - HeaderSize);
    for (int i = 0; i < 4; ++i)
        m_data[4 + i] = uint8_t(length >> (8 * i));
    return m_data;
}

bool OxPduReader::open(const uint8_t *data, size_t size)
{
    m_body = nullptr;
    m_size = m_pos = 0;
    m_type = 0;
    if (!data || size < OxPduWriter::HeaderSize)
        return false;
    m_type = uint16_t(data[0] | data[1] << 8);
    m_body = data + OxPduWriter::HeaderSize;
    m_size = size - OxPduWriter::HeaderSize;
    return true;
}

bool OxPduReader::u8(uint8_t &value)
{
    if (remaining() < 1)
        return false;
    value = m_body[m_pos++];
    return true;
}

bool OxPduReader::u16(uint16_t &value)
{
    if (remaining() < 2)
        return false;
    value = uint16_t(m_body[m_pos] | m_body[m_pos + 1] << 8);
    m_pos += 2;
    return true;
}

bool OxPduReader::u32(uint32_t &value)
{
    if (remaining() < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
        value |= uint32_t(m_body[m_pos + i]) << (8 * i);
    m_pos += 4;
    return true;
}

bool OxPduReader::i16(int16_t &value)
{
    uint16_t raw;
    if (!u16(raw))
        return false;
    value = int16_t(raw);
    return true;
}

bool OxPduReader::i32(int32_t &value)
{
    uint32_t raw;
    if (!u32(raw))
        return false;
    value = int32_t(raw);
    return true;
}

bool OxPduReader::skip(size_t size)
{
    if (remaining() < size)
        return false;
    m_pos += size;
    return true;
}

static void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string oxUtf16leToUtf8(const uint8_t *data, size_t units, bool *ok)
{
    std::string out;
    if (ok)
        *ok = true;
    for (size_t i = 0; i < units; ++i) {
        uint32_t unit = uint32_t(data[2 * i] | data[2 * i + 1] << 8);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00) {
            uint32_t low = 0;
            if (i + 1 < units)
                low = uint32_t(data[2 * i + 2] | data[2 * i + 3] << 8);
            if (low < 0xDC00 || low >= 0xE000) {
                if (ok)
                    *ok = false;
                return std::string();
            }
            ++i;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        } else if (unit >= 0xDC00 && unit < 0xE000) {
            if (ok)
                *ok = false;
            return std::string();
        }
        appendUtf8(out, unit);
    }
    return out;
}

OxBytes oxUtf8ToUtf16le(const std::string &text)
{
    OxBytes out;
    out.reserve(text.size() * 2);
    auto put = [&out](uint32_t unit) {
        out.push_back(uint8_t(unit));
        out.push_back(uint8_t(unit >> 8));
    };
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        uint32_t cp = s[i];
        size_t extra = 0;
        uint32_t min = 0;
        if (cp < 0x80) {
            extra = 0;
        } else if ((cp & 0xE0) == 0xC0) {
            extra = 1, cp &= 0x1F, min = 0x80;
        } else if ((cp & 0xF0) == 0xE0) {
            extra = 2, cp &= 0x0F, min = 0x800;
        } else if ((cp & 0xF8) == 0xF0) {
            extra = 3, cp &= 0x07, min = 0x10000;
        } else {
            put(0xFFFD);
            ++i;
            continue;
        }
        bool good = i + extra < n;
        for (size_t k = 1; good && k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                good = false;
            else
                cp = cp << 6 | (s[i + k] & 0x3F);
        }
        if (!good || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            put(0xFFFD);
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}
