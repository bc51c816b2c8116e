#include "support/sshdfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const SshdProgram = "/usr/sbin/sshd";

bool run(const QString &program, const QStringList &args, QString *error,
         const QByteArray &input = QByteArray())
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(5000)) {
        if (error)
            *error = QStringLiteral("%1 failed to start").arg(program);
        return false;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("%1 %2 failed: %3")
                         .arg(program, args.join(' '), QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions perms)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = f.write(content) == content.size();
    f.close();
    return ok && f.setPermissions(perms);
}

const QFile::Permissions ReadableByAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                         | QFile::ReadOther;
const QFile::Permissions ExecutableByAll = ReadableByAll | QFile::ExeOwner | QFile::ExeGroup
                                           | QFile::ExeOther;

// Child processes of `parent` (sshd's per-connection processes).
int childCount(qint64 parent)
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // "pid (name) state ppid ...": the name may hold blanks, so start after ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == parent)
            ++count;
    }
    return count;
}

} // namespace

SshdFixture::SshdFixture(const QString &user)
    : m_user(user)
{
}

SshdFixture::~SshdFixture()
{
    stop();
}

QString SshdFixture::password()
{
    return QStringLiteral("Nuvek-test-7q2");
}

bool SshdFixture::isAvailable(QString *why)
{
    return prepare(why);
}

bool SshdFixture::prepare(QString *why)
{
    if (m_prepared)
        return true;
    if (geteuid() != 0) {
        if (why)
            *why = QStringLiteral("the sshd fixture needs root (to create the test account)");
        return false;
    }
    if (!QFileInfo(QString::fromLatin1(SshdProgram)).isExecutable()) {
        if (why)
            *why = QStringLiteral("sshd is not installed");
        return false;
    }
    if (!ensureAccount(why))
        return false;

    // sshd's privilege separation wants this folder.
    ::mkdir("/run/sshd", 0755);

    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/nuvek-sshd-XXXXXX"));
    if (!m_dir->isValid()) {
        if (why)
            *why = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    // The account must reach the bin folder, and sshd's StrictModes wants the
    // authorized keys' folders owned by root and not writable by others.
    ::chmod(QFile::encodeName(m_dir->path()).constData(), 0755);
    QDir(m_dir->path()).mkdir(QStringLiteral("bin"));
    ::chmod(QFile::encodeName(binPath()).constData(), 0755);
    writeFile(m_dir->filePath(QStringLiteral("authorized_keys")), QByteArray(), ReadableByAll);

    QString error;
    const QString hostKey = m_dir->filePath(QStringLiteral("ssh_host_rsa_key"));
    if (!run(QStringLiteral("ssh-keygen"),
             {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("rsa"), QStringLiteral("-b"),
              QStringLiteral("2048"), QStringLiteral("-N"), QString(), QStringLiteral("-f"), hostKey},
             &error)) {
        if (why)
            *why = error;
        return false;
    }
    m_prepared = true;
    return true;
}

bool SshdFixture::ensureAccount(QString *why)
{
    const QByteArray name = m_user.toLocal8Bit();
    if (!getpwnam(name.constData())) {
        QString error;
        // Another test may be creating it at the same moment; check again on failure.
        if (!run(QStringLiteral("useradd"),
                 {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/bash"), m_user},
                 &error)
            && !getpwnam(name.constData())) {
            if (why)
                *why = error;
            return false;
        }
    }
    QString error;
    if (!run(QStringLiteral("chpasswd"), {}, &error,
             (m_user + QLatin1Char(':') + password() + QLatin1Char('\n')).toLocal8Bit())) {
        if (why)
            *why = error;
        return false;
    }
    return true;
}

void SshdFixture::setPasswordAuthentication(bool on) { m_passwordAuth = on; }
void SshdFixture::setPublicKeyAuthentication(bool on) { m_pubkeyAuth = on; }
void SshdFixture::setMaxAuthTries(int tries) { m_maxAuthTries = tries; }
void SshdFixture::setForceCommand(const QString &command) { m_forceCommand = command; }
void SshdFixture::addConfigLine(const QString &line) { m_extraLines << line; }

QString SshdFixture::tempPath() const { return m_dir ? m_dir->path() : QString(); }
QString SshdFixture::binPath() const { return m_dir ? m_dir->filePath(QStringLiteral("bin")) : QString(); }
QString SshdFixture::clientKeyPath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("client_key")) : QString();
}
QString SshdFixture::knownHostsPath() const
{
    // A blank in the name, as in the real data folder ("Ostrane Rodorivezozoru").
    return m_dir ? m_dir->filePath(QStringLiteral("known hosts")) : QString();
}
QString SshdFixture::clientConfigPath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("ssh_config")) : QString();
}

QString SshdFixture::serverLog() const
{
    if (!m_dir)
        return QString();
    QFile f(m_dir->filePath(QStringLiteral("sshd.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString SshdFixture::addProgram(const QString &name, const QByteArray &content)
{
    if (!prepare(nullptr))
        return QString();
    const QString path = QDir(binPath()).filePath(name);
    writeFile(path, content, ExecutableByAll);
    return path;
}

bool SshdFixture::installClientKey(const QString &passphrase)
{
    if (!prepare(nullptr))
        return false;
    const QString key = clientKeyPath();
    if (!QFile::exists(key)) {
        if (!run(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                  QStringLiteral("-N"), passphrase, QStringLiteral("-C"),
                  QStringLiteral("nuvek-test"), QStringLiteral("-f"), key},
                 nullptr))
            return false;
    }
    QFile pub(key + QStringLiteral(".pub"));
    if (!pub.open(QIODevice::ReadOnly))
        return false;
    m_keyAuthorized = writeFile(m_dir->filePath(QStringLiteral("authorized_keys")), pub.readAll(),
                                ReadableByAll);
    return m_keyAuthorized;
}

void SshdFixture::removeClientKey()
{
    if (m_dir)
        writeFile(m_dir->filePath(QStringLiteral("authorized_keys")), QByteArray(), ReadableByAll);
    m_keyAuthorized = false;
}

bool SshdFixture::writeConfig(QString *error)
{
    const auto yesNo = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
    QStringList lines;
    lines << QStringLiteral("Port %1").arg(m_port)
          << QStringLiteral("ListenAddress 127.0.0.1")
          << QStringLiteral("HostKey %1").arg(m_dir->filePath(QStringLiteral("ssh_host_rsa_key")))
          << QStringLiteral("PidFile %1").arg(m_dir->filePath(QStringLiteral("sshd.pid")))
          << QStringLiteral("AuthorizedKeysFile %1").arg(m_dir->filePath(QStringLiteral("authorized_keys")))
          << QStringLiteral("PubkeyAuthentication %1").arg(yesNo(m_pubkeyAuth))
          << QStringLiteral("PasswordAuthentication %1").arg(yesNo(m_passwordAuth))
          << QStringLiteral("KbdInteractiveAuthentication no")
          << QStringLiteral("UsePAM yes")
          << QStringLiteral("PermitRootLogin no")
          << QStringLiteral("AllowUsers %1").arg(m_user)
          << QStringLiteral("AllowTcpForwarding yes")
          << QStringLiteral("X11Forwarding no")
          << QStringLiteral("PrintMotd no")
          // The fixture lives under /tmp, which StrictModes would reject.
          << QStringLiteral("StrictModes no")
          << QStringLiteral("MaxAuthTries %1").arg(m_maxAuthTries)
          << QStringLiteral("MaxStartups 50")
          << QStringLiteral("LogLevel VERBOSE")
          << QStringLiteral("SetEnv PATH=%1:/usr/local/bin:/usr/bin:/bin").arg(binPath());
    if (!m_forceCommand.isEmpty())
        lines << QStringLiteral("ForceCommand %1").arg(m_forceCommand);
    lines << m_extraLines;
    if (!writeFile(m_dir->filePath(QStringLiteral("sshd_config")),
                   (lines.join('\n') + QLatin1Char('\n')).toLocal8Bit(), ReadableByAll)) {
        if (error)
            *error = QStringLiteral("cannot write the sshd config");
        return false;
    }

    // The client side: a known_hosts line for this port and a config that uses
    // only the fixture's key.
    QFile pub(m_dir->filePath(QStringLiteral("ssh_host_rsa_key.pub")));
    pub.open(QIODevice::ReadOnly);
    const QByteArray hostKey = pub.readAll().split(' ').mid(0, 2).join(' ');
    writeFile(knownHostsPath(), QStringLiteral("[127.0.0.1]:%1 ").arg(m_port).toLatin1() + hostKey + '\n',
              ReadableByAll);
    QStringList client;
    client << QStringLiteral("IdentitiesOnly yes")
           << QStringLiteral("IdentityAgent none")
           << QStringLiteral("IdentityFile %1").arg(clientKeyPath())
           << QStringLiteral("ConnectTimeout 10");
    writeFile(clientConfigPath(), (client.join('\n') + QLatin1Char('\n')).toLocal8Bit(), ReadableByAll);
    return true;
}

quint16 SshdFixture::freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

bool SshdFixture::start(QString *error)
{
    if (isRunning())
        return true;
    if (!prepare(error))
        return false;

    // A port found free may be taken by the time sshd binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (!writeConfig(error))
            return false;
        const QString log = m_dir->filePath(QStringLiteral("sshd.log"));
        QFile::remove(log);
        m_sshd = std::make_unique<QProcess>();
        m_sshd->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The server dies with the test, even when the test crashes.
        m_sshd->start(QStringLiteral("setpriv"),
                      {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QString::fromLatin1(SshdProgram),
                       QStringLiteral("-D"), QStringLiteral("-f"),
                       m_dir->filePath(QStringLiteral("sshd_config")), QStringLiteral("-E"), log});
        if (!m_sshd->waitForStarted(5000)) {
            if (error)
                *error = QStringLiteral("sshd failed to start");
            m_sshd.reset();
            return false;
        }
        if (waitUntilListening(error))
            return true;
        stop();
        if (!serverLog().contains(QLatin1String("Address already in use")))
            return false;
    }
    return false;
}

bool SshdFixture::waitUntilListening(QString *error)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (m_sshd->state() != QProcess::Running) {
            if (error)
                *error = QStringLiteral("sshd ended: %1").arg(serverLog());
            return false;
        }
        if (serverLog().contains(QLatin1String("Server listening on")))
            return true;
        QThread::msleep(20);
    }
    if (error)
        *error = QStringLiteral("sshd did not start listening: %1").arg(serverLog());
    return false;
}

bool SshdFixture::restart(QString *error)
{
    if (m_sshd) {
        m_sshd->terminate();
        m_sshd->waitForFinished(5000);
        m_sshd.reset();
    }
    return start(error);
}

bool SshdFixture::isRunning() const
{
    return m_sshd && m_sshd->state() == QProcess::Running;
}

void SshdFixture::stop()
{
    if (m_sshd) {
        // Let the connections that are still closing end while the server can
        // reap them; orphans may never be reaped where pid 1 does not.
        QElapsedTimer timer;
        timer.start();
        while (childCount(m_sshd->processId()) > 0 && timer.elapsed() < 3000) {
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        m_sshd->terminate();
        if (!m_sshd->waitForFinished(5000)) {
            m_sshd->kill();
            m_sshd->waitForFinished(2000);
        }
        m_sshd.reset();
    }
    restoreEnvironment();
}

QProcessEnvironment SshdFixture::clientEnvironment(const QProcessEnvironment &base) const
{
    QProcessEnvironment env = base;
    env.insert(QStringLiteral("NUVEK_KNOWN_HOSTS"), knownHostsPath());
    env.insert(QStringLiteral("NUVEK_SSH_CONFIG"), clientConfigPath());
    return env;
}

void SshdFixture::applyClientEnvironment()
{
    const QList<QPair<QByteArray, QString>> vars = {{"NUVEK_KNOWN_HOSTS", knownHostsPath()},
                                                   {"NUVEK_SSH_CONFIG", clientConfigPath()}};
    for (const auto &var : vars) {
        if (qEnvironmentVariableIsSet(var.first.constData()))
            m_savedEnv.append({var.first, qgetenv(var.first.constData())});
        else
            m_unsetEnv.append(var.first);
        qputenv(var.first.constData(), QFile::encodeName(var.second));
    }
}

void SshdFixture::restoreEnvironment()
{
    for (const auto &saved : qAsConst(m_savedEnv))
        qputenv(saved.first.constData(), saved.second);
    for (const QByteArray &name : qAsConst(m_unsetEnv))
        qunsetenv(name.constData());
    m_savedEnv.clear();
    m_unsetEnv.clear();
}
