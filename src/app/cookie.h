#pragma once

#include <QByteArray>
#include <QString>

// Fills `out` with `count` bytes from the system's cryptographic random source.
bool generateRandomBytes(int count, QByteArray &out, QString &error);

// 16 random bytes as 32 lowercase hexadecimal characters. `cookie` is left
// unchanged on failure.
bool generateCookie(QString &cookie, QString &error);
