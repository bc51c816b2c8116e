#include "link/sshdevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>

namespace {

const char PlinkName[] = "plink";
// The longest line of the SSH client's standard error taken whole.
const int MaxLineLength = 4096;
const char AskpassName[] = "askpass";

} // namespace

QString findHelperProgram(const QString &name)
{
    // Beside the program first (build tree, portable copies), then where an installation
    // keeps its helpers (libexec/nuvek of the prefix).
    const QString executableDir = QCoreApplication::applicationDirPath();
    QStringList folders{executableDir,
                        QDir(executableDir).filePath(QStringLiteral(NUVEK_INSTALLED_HELPER_DIR))};
    const QString binDir = qEnvironmentVariable("NUVEK_BIN_DIR");
    if (!binDir.isEmpty())
        folders << binDir;
    QString path = QStandardPaths::findExecutable(name, folders);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name);
    return path.isEmpty() ? name : path;
}

SshDevice::SshDevice(QObject *parent)
    : QIODevice(parent)
    , m_logLimit(&m_log, LogLimit)
{
}

SshDevice::~SshDevice()
{
    // The owner is going away: end the processes, but tell no one.
    blockSignals(true);
    close();
}

void SshDevice::setTunnelPortRange(quint16 first, quint16 last)
{
    m_firstTunnelPort = first;
    m_lastTunnelPort = last;
}

void SshDevice::connectTo(const QString &host, quint16 port, const QString &user, const QString &command,
                          bool fips, const QString &askpassServer)
{
    if (isOpen())
        return;
    m_host = host;
    m_port = port;
    m_user = user;
    m_command = command;
    m_fips = fips;
    m_askpassServer = askpassServer;
    m_tunnelPort = 0;
    m_realHost = host;
    m_lookupId = -1;
    m_accessGranted = false;
    m_logLimit.clear();
    m_status = true;
    setErrorString(QString());

    QIODevice::open(QIODevice::ReadWrite);
    if (m_user.isEmpty())
        askForUser();
    else
        startClient();
}

void SshDevice::askForUser()
{
    m_askpassProcess = new QProcess;
    connect(m_askpassProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &SshDevice::on_AProc_finished);
    // Without the helper nobody can answer: end the attempt instead of waiting for ever.
    connect(m_askpassProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && m_askpassProcess)
            fail(tr("%1 failed to start").arg(QLatin1String(AskpassName)));
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("OSTRANE_ASKPASS_SERVER"));
    environment.insert(QStringLiteral("OSTRANE_ASKPASS_SERVER"), m_askpassServer);
    m_askpassProcess->setProcessEnvironment(environment);
    // Not translated: the status dialog recognises the user question by this text.
    m_askpassProcess->start(findHelperProgram(QLatin1String(AskpassName)),
                            {QStringLiteral("The user for \"%1\":").arg(m_host)},
                            QIODevice::ReadWrite);
    m_askpassProcess->setTextModeEnabled(false);
}

void SshDevice::on_AProc_finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_askpassProcess)
        return;
    if (exitStatus == QProcess::CrashExit) {
        fail(tr("%1 crashed").arg(QLatin1String(AskpassName)));
        return;
    }
    if (exitCode != 0) {
        // The user cancelled: no reason to give.
        m_status = false;
        emit finished(false);
        return;
    }
    m_user = QString::fromLocal8Bit(m_askpassProcess->readAllStandardOutput());
    startClient();
}

quint16 SshDevice::findFreePort(quint16 first, quint16 last)
{
    for (quint32 port = first; port < last; ++port) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(port));
        if (!probe.waitForConnected(100))
            return quint16(port);
        probe.abort();
    }
    return last;
}

void SshDevice::startClient()
{
    m_tunnelPort = findFreePort(m_firstTunnelPort, m_lastTunnelPort);
    if (m_tunnelPort == m_lastTunnelPort) {
        m_logLimit.append(tr("Failed to find an open port for tunneling"));
        m_tunnelPort = 0;
    }

    m_sshProcess = new QProcess;
    connect(m_sshProcess, &QProcess::bytesWritten, this, &SshDevice::bytesWritten);
    connect(m_sshProcess, &QProcess::errorOccurred, this, &SshDevice::on_Proc_error);
    connect(m_sshProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &SshDevice::on_Proc_finished);
    connect(m_sshProcess, &QProcess::readyRead, this, &SshDevice::readyRead);
    connect(m_sshProcess, &QProcess::readyReadStandardError, this, &SshDevice::on_Proc_readyReadStandardError);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("DISPLAY")))
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    if (!environment.contains(QStringLiteral("SSH_ASKPASS"))) {
        environment.insert(QStringLiteral("SSH_ASKPASS"), findHelperProgram(QLatin1String(AskpassName)));
        environment.remove(QStringLiteral("OSTRANE_ASKPASS_SERVER"));
        environment.insert(QStringLiteral("OSTRANE_ASKPASS_SERVER"), m_askpassServer);
    }
    m_sshProcess->setProcessEnvironment(environment);
    m_sshProcess->start(findHelperProgram(QLatin1String(PlinkName)), clientArguments(), QIODevice::ReadWrite);
    m_sshProcess->setTextModeEnabled(false);

    QIODevice::open(QIODevice::ReadWrite);
}

QStringList SshDevice::clientArguments() const
{
    QStringList args{QStringLiteral("-v")};
    if (m_port != 0)
        args << QStringLiteral("-P") << QString::number(m_port);
    if (m_fips)
        args << QStringLiteral("-2") << QStringLiteral("-fips");
    args << QStringLiteral("-G") << QStringLiteral("-F");
    if (m_tunnelPort != 0)
        args << QStringLiteral("-D") << QString::number(m_tunnelPort);
    if (m_command.isEmpty())
        args << QStringLiteral("-N");
    args << QStringLiteral("-l") << m_user;
    // A host that looks like an option must not be taken for one.
    if (m_host.startsWith(QLatin1Char('-')))
        args << QStringLiteral("--");
    args << m_host;
    if (!m_command.isEmpty())
        args << m_command;
    return args;
}

void SshDevice::fail(const QString &error)
{
    setErrorString(error);
    m_status = false;
    emit finished(false);
}

void SshDevice::on_Proc_error(QProcess::ProcessError error)
{
    if (error == QProcess::FailedToStart)
        fail(tr("%1 failed to start").arg(QLatin1String(PlinkName)));
}

void SshDevice::on_Proc_readyReadStandardError()
{
    if (!m_sshProcess)
        return;
    static const QRegularExpression connecting(QStringLiteral("Connecting to (.*) port"));
    m_sshProcess->setReadChannel(QProcess::StandardError);
    // A line without end is taken in pieces, so that nothing piles up unread.
    while (m_lookupId == -1
           && (m_sshProcess->canReadLine() || m_sshProcess->bytesAvailable() >= MaxLineLength)) {
        QByteArray bytes = m_sshProcess->readLine(MaxLineLength + 1);
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        const QString line = QString::fromLocal8Bit(bytes);
        const QRegularExpressionMatch match = connecting.match(line);
        if (match.hasMatch())
            m_lookupId = QHostInfo::lookupHost(match.captured(1), this, SLOT(RealHost_lookupFinished(QHostInfo)));
        if (line.contains(QLatin1String("Access granted"))) {
            m_accessGranted = true;
            emit connected();
        }
        m_logLimit.append(line);
        // A slot may have closed the link meanwhile.
        if (!m_sshProcess)
            return;
    }
    m_sshProcess->setReadChannel(QProcess::StandardOutput);
}

void SshDevice::RealHost_lookupFinished(const QHostInfo &info)
{
    if (info.lookupId() != m_lookupId)
        return;
    if (info.error() == QHostInfo::NoError && !info.hostName().isEmpty())
        m_realHost = info.hostName();
    m_lookupId = -1;
    on_Proc_readyReadStandardError();
}

void SshDevice::on_Proc_finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!m_sshProcess)
        return;
    // Lines held back behind a host lookup count too.
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_sshProcess->setReadChannel(QProcess::StandardError);
    const QByteArray rest = m_sshProcess->readAll();
    m_sshProcess->setReadChannel(QProcess::StandardOutput);
    if (!rest.isEmpty())
        m_logLimit.append(QString::fromLocal8Bit(rest.right(LogLimit)));
    m_accessGranted = false;

    if (exitStatus == QProcess::CrashExit) {
        fail(tr("%1 crashed").arg(QLatin1String(PlinkName)));
    } else if (exitCode != 0) {
        fail(tr("%2 quit with error code %1").arg(exitCode).arg(QLatin1String(PlinkName)));
    } else {
        m_status = true;
        emit finished(true);
    }
}

void SshDevice::release(QProcess *process)
{
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
            &QObject::deleteLater);
    // A process that never started reports no finished.
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
}

void SshDevice::close()
{
    if (!isOpen())
        return;
    QIODevice::close();
    m_status = true;

    if (m_askpassProcess) {
        QProcess *process = m_askpassProcess;
        m_askpassProcess = nullptr;
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            release(process);
            process->terminate();
            emit finished(m_status);
        } else {
            process->deleteLater();
        }
    }

    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }

    if (m_sshProcess) {
        QProcess *process = m_sshProcess;
        m_sshProcess = nullptr;
        process->disconnect(this);
        switch (process->state()) {
        case QProcess::NotRunning:
            process->deleteLater();
            break;
        case QProcess::Starting:
            release(process);
            process->terminate();
            emit finished(m_status);
            break;
        case QProcess::Running:
            release(process);
            if (!m_command.isEmpty() && m_accessGranted)
                process->closeWriteChannel();
            else
                process->terminate();
            emit finished(m_status);
            break;
        }
    }
}

qint64 SshDevice::readData(char *data, qint64 maxSize)
{
    if (!m_sshProcess)
        return -1;
    return m_sshProcess->read(data, maxSize);
}

qint64 SshDevice::writeData(const char *data, qint64 maxSize)
{
    if (!m_sshProcess)
        return -1;
    return m_sshProcess->write(data, maxSize);
}

qint64 SshDevice::bytesAvailable() const
{
    if (!isOpen() || !m_sshProcess)
        return 0;
    return m_sshProcess->bytesAvailable() + QIODevice::bytesAvailable();
}

qint64 SshDevice::bytesToWrite() const
{
    if (!isOpen() || !m_sshProcess)
        return 0;
    return m_sshProcess->bytesToWrite();
}

bool SshDevice::canReadLine() const
{
    if (!isOpen() || !m_sshProcess)
        return false;
    return m_sshProcess->canReadLine() || QIODevice::canReadLine();
}

bool SshDevice::atEnd() const
{
    if (!isOpen())
        return true;
    if (!m_sshProcess)
        return false;
    return m_sshProcess->atEnd() && QIODevice::atEnd();
}
