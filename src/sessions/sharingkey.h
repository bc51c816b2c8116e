#pragma once

#include <QString>

// What a sharing key tells a viewer: where the shared session is and how to log in. The key
// is standard Base64 of a compact JSON object; keys made by this program carry "Hostname",
// "SshPort", "RdpPort" and "Password", and may also carry "Direct" and "WindowMode".
struct SharingKey
{
    QString hostname;    // SSH host, or the RDP host of a direct join
    quint16 sshPort = 0; // 0: the SSH client's default
    quint16 rdpPort = 0;
    QString password;
    bool direct = false; // straight to the RDP port, without SSH
    QString windowMode;  // for direct joins

    // Reads a key. False when it is not Base64 of a JSON object; members that are missing
    // or of another JSON type keep their defaults.
    static bool parse(const QString &key, SharingKey *out);

    // The key of a session shared with `password` (the first four members only).
    static QString make(const QString &hostname, quint16 sshPort, quint16 rdpPort,
                        const QString &password);
};
