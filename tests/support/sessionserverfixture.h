#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The session's own RDP server (nuvek2_rdp) for tests: a private Xvnc display and the server
// on a free port of 127.0.0.1, logging in with password().
//
// start() picks a free display (-displayfd) and a free port, starts both and waits for the
// server's "listening" line. stop() or the destructor ends both and removes the folder.
// startDisplay() starts one more Xvnc (for a client that needs a display of its own); it
// lives as long as the QProcess given.
class SessionServerFixture
{
public:
    SessionServerFixture() = default;
    ~SessionServerFixture();
    SessionServerFixture(const SessionServerFixture &) = delete;
    SessionServerFixture &operator=(const SessionServerFixture &) = delete;

    static bool isAvailable();
    static QString program();

    // arguments: more options for the server (--rootless).
    bool start(const QSize &screen, QString *error, const QStringList &arguments = {});
    void stop();

    quint16 port() const { return m_port; }
    QByteArray display() const { return m_display; }
    static QString password() { return QStringLiteral("s3cret-\u00e9-pass"); }
    QProcess &server() { return m_server; }
    QProcess &xvnc() { return m_xvnc; }
    // What the server has written to stderr so far.
    QByteArray log() const;

    static bool startDisplay(QProcess &xvnc, const QSize &screen, QByteArray *display);
    static void stopProcess(QProcess &process);

private:
    bool startServer(QString *error);

    QTemporaryDir m_home;
    QProcess m_xvnc;
    QProcess m_server;
    QByteArray m_display;
    QStringList m_arguments;
    quint16 m_port = 0;
};
