#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

// FreeRDP's shadow server on 127.0.0.1 for tests, serving a private Xvfb display.
//
// start() picks a free display (Xvfb -displayfd) and a free port, starts the shadow server
// with standard RDP security and without authentication (-auth), and waits until it
// listens. The server's certificate goes to a temporary HOME. stop() or the destructor ends
// both processes and removes the folder. Start fixtures one after another: Xvfb servers
// starting at the same instant race for their sockets.
//
//     ShadowServerFixture server;
//     if (!ShadowServerFixture::isAvailable()) QSKIP("...");
//     QString why;
//     QVERIFY2(server.start(QSize(1024, 768), &why), qPrintable(why));
//     ... connect to 127.0.0.1:server.port() ...
class ShadowServerFixture
{
public:
    ShadowServerFixture() = default;
    ~ShadowServerFixture();
    ShadowServerFixture(const ShadowServerFixture &) = delete;
    ShadowServerFixture &operator=(const ShadowServerFixture &) = delete;

    static bool isAvailable();

    // The security the server offers, "rdp" (the default) or "tls"; set before start().
    void setSecurity(const QString &security) { m_security = security; }
    bool start(const QSize &screen, QString *error);
    void stop();
    // Ends the shadow server only (the display stays): a server that goes away.
    void killServer();

    quint16 port() const { return m_port; }
    QByteArray display() const { return m_display; }

    // A port on 127.0.0.1 that was free a moment ago.
    static quint16 freePort();

private:
    bool startShadow(QString *error);
    static void stopProcess(QProcess &process);

    QTemporaryDir home;
    QProcess xvfb;
    QProcess shadow;
    QByteArray m_display;
    quint16 m_port = 0;
    QString m_security = QStringLiteral("rdp");
};
