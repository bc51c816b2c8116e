#include "support/shadowserverfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

ShadowServerFixture::~ShadowServerFixture()
{
    stop();
}

bool ShadowServerFixture::isAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("freerdp-shadow-cli")).isEmpty();
}

quint16 ShadowServerFixture::freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

bool ShadowServerFixture::start(const QSize &screen, QString *error)
{
    if (!home.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"),
                QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(5000)) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (!number.contains('\n') && timer.elapsed() < 15000) {
        xvfb.waitForReadyRead(500);
        number += xvfb.readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        *error = QStringLiteral("Xvfb did not report its display");
        return false;
    }
    m_display = ':' + number.trimmed();

    // The port may be taken between picking it and the server binding it: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startShadow(error))
            return true;
        stopProcess(shadow);
    }
    return false;
}

bool ShadowServerFixture::startShadow(QString *error)
{
    m_port = freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.insert(QStringLiteral("HOME"), home.path());
    shadow.setProcessEnvironment(env);
    shadow.setStandardOutputFile(QProcess::nullDevice());
    shadow.setStandardErrorFile(home.filePath(QStringLiteral("shadow.log")));
    // -auth turns authentication off.
    shadow.start(QStringLiteral("freerdp-shadow-cli"),
                 {QStringLiteral("/bind-address:127.0.0.1"),
                  QStringLiteral("/port:%1").arg(m_port), QStringLiteral("/sec:%1").arg(m_security),
                  QStringLiteral("-auth")});
    if (!shadow.waitForStarted(5000)) {
        *error = QStringLiteral("freerdp-shadow-cli did not start");
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200))
            return true;
        if (shadow.state() == QProcess::NotRunning)
            break;
        QThread::msleep(100);
    }
    *error = QStringLiteral("the shadow server does not listen on port %1%2")
                 .arg(m_port)
                 .arg(shadow.state() == QProcess::NotRunning
                          ? QStringLiteral(" (it ended with %1)").arg(shadow.exitCode())
                          : QString());
    QFile log(home.filePath(QStringLiteral("shadow.log")));
    if (log.open(QIODevice::ReadOnly))
        *error += QLatin1String(": ") + QString::fromLocal8Bit(log.readAll().right(2000));
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

void ShadowServerFixture::stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
