#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QTemporaryDir>

// FreeRDP's shadow server on 127.0.0.1 and a free port, serving a private Xvfb display, with
// standard RDP security and without authentication. stop() or the destructor ends both.
//
//     if (!ShadowServerFixture::isAvailable()) QSKIP("...");
//     QVERIFY2(server.start(QSize(1024, 768), &why), qPrintable(why));
class ShadowServerFixture
{
public:
    ShadowServerFixture() = default;
    ~ShadowServerFixture() { stop(); }
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
    static quint16 freePort();

private:
    QTemporaryDir home; // the server's certificate goes here
    QProcess xvfb;
    QProcess shadow;
    QByteArray m_display;
    quint16 m_port = 0;
    QString m_security = QStringLiteral("rdp");
};
