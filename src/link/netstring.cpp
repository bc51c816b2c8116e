#include "link/netstring.h"

#include <QCoreApplication>
#include <QIODevice>

const QByteArray NetStringStartMarker("---- BEGIN Nuvek NetString ----");

QByteArray encodeNetString(const QString &text)
{
    const QByteArray payload = text.toUtf8();
    QByteArray frame = QByteArray::number(payload.size());
    frame.reserve(frame.size() + payload.size() + 2);
    frame += ':';
    frame += payload;
    frame += ',';
    return frame;
}

NetStringReader::NetStringReader(QIODevice *device, const char *context)
    : m_device(device), m_context(context)
{
}

void NetStringReader::fail(const QString &error)
{
    m_state = Failed;
    m_errorString = error;
    if (m_device)
        m_device->close();
}

// Leading white space and one plus sign are allowed; anything else must be a digit.
static bool parseLength(const QByteArray &field, qint64 &value)
{
    int i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r')))
        ++i;
    if (i < field.size() && field[i] == '+')
        ++i;
    if (i >= field.size())
        return false;
    value = 0;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9')
            return false;
        value = value * 10 + (field[i] - '0');
    }
    return true;
}

NetStringReader::Take NetStringReader::takeNetString(QByteArray &payload)
{
    const int colon = m_buffer.indexOf(':');
    if (colon < 0) {
        if (m_buffer.size() > NetStringMaxLengthDigits) {
            fail(QCoreApplication::translate(m_context, "Got an invalid NetString"));
            return Take::Failure;
        }
        return Take::NeedMore;
    }
    if (colon == 0 || colon > NetStringMaxLengthDigits) {
        fail(QCoreApplication::translate(m_context, "Got an invalid NetString"));
        return Take::Failure;
    }
    qint64 length = 0;
    if (!parseLength(m_buffer.left(colon), length)) {
        fail(QCoreApplication::translate(m_context, "Got an invalid NetString length"));
        return Take::Failure;
    }
    if (length > NetStringMaxLength) {
        fail(QCoreApplication::translate(m_context, "Got a NetString length that is too big"));
        return Take::Failure;
    }
    const qint64 frameSize = colon + length + 2;
    if (m_buffer.size() < frameSize)
        return Take::NeedMore;
    // The terminator is skipped without a look: only the length decides.
    payload = m_buffer.mid(colon + 1, int(length));
    m_buffer.remove(0, int(frameSize));
    return Take::Payload;
}

void NetStringReader::takeFrames(const std::function<bool(const QByteArray &)> &handler)
{
    QByteArray payload;
    while (m_state != Failed) {
        if (takeNetString(payload) != Take::Payload)
            return;
        if (!handler(payload))
            return;
    }
}

void NetStringReader::readStream(const std::function<bool(const QByteArray &)> &handler)
{
    while (m_state != Failed && m_device && m_device->bytesAvailable() > 0) {
        const QByteArray chunk = m_device->read(NetStringReadChunk);
        if (chunk.isEmpty())
            break;
        m_buffer += chunk;
        if (m_state == Seeking) {
            const int at = m_buffer.indexOf(NetStringStartMarker);
            if (at < 0) {
                // Keep enough to find a marker split between two reads.
                m_buffer = m_buffer.right(NetStringStartMarker.size());
                continue;
            }
            m_buffer.remove(0, at + NetStringStartMarker.size());
            m_state = Ready;
        }
        takeFrames(handler);
    }
}

bool NetStringReader::readSingleFrame(QByteArray &payload)
{
    while (m_state == Reading && m_device && m_device->bytesAvailable() > 0) {
        const QByteArray chunk = m_device->read(NetStringReadChunk);
        if (chunk.isEmpty())
            break;
        m_buffer += chunk;
        if (takeNetString(payload) == Take::Payload) {
            m_state = Ready;
            return true;
        }
    }
    return false;
}
