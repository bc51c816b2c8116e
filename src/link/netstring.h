#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

// The text the server's command program writes before its first frame.
extern const QByteArray NetStringStartMarker;

constexpr int NetStringMaxLengthDigits = 7;
constexpr int NetStringMaxLength = 65536;
constexpr int NetStringReadChunk = 4096;

// "%1:%2," with %1 the UTF-8 byte length of `text`.
QByteArray encodeNetString(const QString &text);

// Incoming side of a NetString stream: the buffer, the state and the error of
// one reader, with the two loops that drive it from a device's readyRead.
class NetStringReader
{
public:
    enum State { Seeking = 0, Reading = 0, Ready = 1, Failed = 2 };
    enum class Take { Payload, NeedMore, Failure };

    // `context` is the translation context the error strings are shown in.
    NetStringReader(QIODevice *device, const char *context);

    QIODevice *device() const { return m_device; }
    int state() const { return m_state; }
    QString errorString() const { return m_errorString; }

    // Stops the reader for good: state 2, error set, device closed.
    void fail(const QString &error);

    // One parse step on the front of the buffer.
    Take takeNetString(QByteArray &payload);

    // The server stream: drops everything before the start marker, then hands each
    // payload to `handler`, which answers whether the stream is still good (a
    // handler that answers false has called fail() itself).
    void readStream(const std::function<bool(const QByteArray &)> &handler);

    // One frame and nothing after it. Returns true when this call completed the
    // frame; `payload` then holds it.
    bool readSingleFrame(QByteArray &payload);

    // For tests and callers that feed bytes themselves.
    QByteArray &buffer() { return m_buffer; }

private:
    void takeFrames(const std::function<bool(const QByteArray &)> &handler);

    QIODevice *m_device;
    const char *m_context;
    QByteArray m_buffer;
    int m_state = 0;
    QString m_errorString;
};
