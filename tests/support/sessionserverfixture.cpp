#include "support/sessionserverfixture.h"
#include "support/testsupport.h"

#include "support/shadowserverfixture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>

SessionServerFixture::~SessionServerFixture()
{
    stop();
}

QString SessionServerFixture::program()
{
    return QStringLiteral(NUVEK_BIN_DIR "/nuvek2_rdp");
}

bool SessionServerFixture::isAvailable()
{
    return QFile::exists(program()) && !QStandardPaths::findExecutable(QStringLiteral("Xvnc")).isEmpty();
}

bool SessionServerFixture::startDisplay(QProcess &xvnc, const QSize &screen, QByteArray *display)
{
    xvnc.setStandardErrorFile(QProcess::nullDevice());
    // Both servers die with the test, even when the test crashes.
    xvnc.start(QStringLiteral("setpriv"),
               {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("Xvnc"),
                QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-geometry"),
                QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height()),
                QStringLiteral("-depth"), QStringLiteral("24"), QStringLiteral("-rfbport"),
                QStringLiteral("-1"), QStringLiteral("-SecurityTypes"), QStringLiteral("None"),
                QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QByteArray number;
    const QDeadlineTimer deadline(15000);
    while (!number.contains('\n') && !deadline.hasExpired() && xvnc.state() != QProcess::NotRunning) {
        xvnc.waitForReadyRead(500);
        number += xvnc.readAllStandardOutput();
    }
    if (!number.contains('\n'))
        return false;
    *display = ':' + number.trimmed();
    return true;
}

bool SessionServerFixture::start(const QSize &screen, QString *error, const QStringList &arguments)
{
    m_arguments = arguments;
    if (!m_home.isValid() || !startDisplay(m_xvnc, screen, &m_display)) {
        *error = QStringLiteral("Xvnc did not start");
        return false;
    }
    QFile passwordFile(m_home.filePath(QStringLiteral("password")));
    if (!passwordFile.open(QIODevice::WriteOnly)
        || !passwordFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        || passwordFile.write(password().toUtf8() + '\n') < 0) {
        *error = QStringLiteral("cannot write the password file");
        return false;
    }
    passwordFile.close();
    // The port may be taken between picking it and the server binding it: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startServer(error))
            return true;
        stopProcess(m_server);
    }
    return false;
}

bool SessionServerFixture::startServer(QString *error)
{
    m_port = ShadowServerFixture::freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    m_server.setProcessEnvironment(env);
    m_server.setStandardErrorFile(m_home.filePath(QStringLiteral("rdp.log")));
    m_server.start(QStringLiteral("setpriv"),
                   QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), program(),
                               QStringLiteral("--display"), QString::fromLatin1(m_display),
                               QStringLiteral("--port"), QString::number(m_port),
                               QStringLiteral("--password-file"), m_home.filePath(QStringLiteral("password"))}
                       + m_arguments);
    const QByteArray ready = "nuvek2_rdp: listening on 127.0.0.1:" + QByteArray::number(m_port) + '\n';
    QByteArray output;
    const QDeadlineTimer deadline(20000);
    while (!output.contains(ready) && !deadline.hasExpired()
           && m_server.state() != QProcess::NotRunning) {
        m_server.waitForReadyRead(200);
        output += m_server.readAllStandardOutput();
    }
    if (output.contains(ready))
        return true;
    *error = QStringLiteral("nuvek2_rdp does not listen on port %1").arg(m_port);
    QFile log(m_home.filePath(QStringLiteral("rdp.log")));
    if (log.open(QIODevice::ReadOnly))
        *error += QLatin1String(": ") + QString::fromLocal8Bit(log.readAll().right(2000));
    return false;
}

QByteArray SessionServerFixture::log() const
{
    QFile file(m_home.filePath(QStringLiteral("rdp.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SessionServerFixture::stop()
{
    stopProcess(m_server);
    stopProcess(m_xvnc);
}

void SessionServerFixture::stopProcess(QProcess &process)
{
    ::stopProcess(process);
}
