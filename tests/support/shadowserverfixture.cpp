#include "support/shadowserverfixture.h"

#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

bool ShadowServerFixture::isAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("freerdp-shadow-cli")).isEmpty();
}

quint16 ShadowServerFixture::freePort()
{
    return SshdFixture::freePort();
}

bool ShadowServerFixture::start(const QSize &screen, QString *error)
{
    m_display = startXvfb(xvfb, screen);
    if (m_display.isEmpty()) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.insert(QStringLiteral("HOME"), home.path());
    shadow.setProcessEnvironment(env);
    shadow.setStandardOutputFile(QProcess::nullDevice());
    shadow.setStandardErrorFile(home.filePath(QStringLiteral("shadow.log")));
    // The port may be taken between picking it and the server binding it: try again.
    // -auth turns authentication off.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        shadow.start(QStringLiteral("freerdp-shadow-cli"), {"/bind-address:127.0.0.1", QStringLiteral("/port:%1").arg(m_port),
                                                           QStringLiteral("/sec:%1").arg(m_security), "-auth"});
        for (int waited = 0; waited < 20000 && shadow.state() != QProcess::NotRunning; waited += 300) {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), m_port);
            if (socket.waitForConnected(200))
                return true;
            QThread::msleep(100);
        }
        stopProcess(shadow);
    }
    QFile log(home.filePath(QStringLiteral("shadow.log")));
    log.open(QIODevice::ReadOnly);
    *error = QStringLiteral("the shadow server does not listen: ") + QString::fromLocal8Bit(log.readAll().right(2000));
    return false;
}

void ShadowServerFixture::killServer()
{
    shadow.kill();
    shadow.waitForFinished(5000);
}

void ShadowServerFixture::stop()
{
    stopProcess(shadow);
    stopProcess(xvfb);
}
