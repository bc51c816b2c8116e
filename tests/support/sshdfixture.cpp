#include "support/sshdfixture.h"

#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &args, QString *error, const QByteArray &input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1 %2 failed: %3").arg(program, args.join(' '), QString::fromLocal8Bit(p.readAll()));
    return false;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool createAccount(const QString &name, QString *error)
{
    const QByteArray login = name.toLocal8Bit();
    return getpwnam(login.constData()) || run("useradd", {"-m", "-s", "/bin/bash", name}, error)
        || getpwnam(login.constData());
}

} // namespace

SshdFixture::SshdFixture() = default;

SshdFixture::~SshdFixture()
{
    stop();
}

bool SshdFixture::isAvailable(QString *why)
{
    if (m_prepared)
        return true;
    QString error;
    if (geteuid() != 0)
        error = QStringLiteral("the sshd fixture needs root (to create the test account)");
    else if (!QFileInfo(QStringLiteral("/usr/sbin/sshd")).isExecutable())
        error = QStringLiteral("sshd is not installed");
    // Another test may create an account at the same moment: look again after a failure.
    else if (!createAccount(user(), &error) || !createAccount(secondUser(), &error)) {
    } else if (run("chpasswd", {}, &error,
                   (user() + ':' + password() + '\n' + secondUser() + ':' + password() + '\n').toLocal8Bit())) {
        ::mkdir("/run/sshd", 0755); // for sshd's privilege separation
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/nuvek-sshd-XXXXXX"));
        // The account must reach the bin folder.
        ::chmod(QFile::encodeName(tempPath()).constData(), 0755);
        QDir().mkdir(binPath());
        ::chmod(QFile::encodeName(binPath()).constData(), 0755);
        m_prepared = writeFile(file("authorized_keys"), {})
            && run("ssh-keygen", {"-q", "-t", "rsa", "-b", "2048", "-N", "", "-f", file("ssh_host_rsa_key")}, &error);
    }
    if (why && !m_prepared)
        *why = error;
    return m_prepared;
}

QString SshdFixture::addProgram(const QString &name, const QByteArray &content)
{
    const QString path = binPath() + '/' + name;
    return isAvailable(nullptr) && writeFile(path, content, true) ? path : QString();
}

bool SshdFixture::installClientKey()
{
    if (!isAvailable(nullptr))
        return false;
    if (!QFile::exists(file("client_key"))
        && !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", file("client_key")}, nullptr))
        return false;
    return writeFile(file("authorized_keys"), readFile(file("client_key.pub")));
}

void SshdFixture::removeClientKey()
{
    if (m_dir)
        writeFile(file("authorized_keys"), {});
}

quint16 SshdFixture::freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

bool SshdFixture::start(QString *error)
{
    if (isRunning())
        return true;
    if (!isAvailable(error))
        return false;
    // A port found free may be taken by the time sshd binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        const QString yes = m_pubkeyAuth ? "yes" : "no";
        const QStringList config{"Port " + QString::number(m_port), "ListenAddress 127.0.0.1",
                                 "HostKey " + file("ssh_host_rsa_key"), "PidFile " + file("sshd.pid"),
                                 "AuthorizedKeysFile " + file("authorized_keys"), "PubkeyAuthentication " + yes,
                                 "PasswordAuthentication yes", "KbdInteractiveAuthentication no", "UsePAM yes",
                                 "AllowUsers " + user() + ' ' + secondUser(), "AllowTcpForwarding yes", "PrintMotd no",
                                 "StrictModes no", "MaxStartups 50", "LogLevel VERBOSE",
                                 "SetEnv PATH=" + binPath() + ":/usr/local/bin:/usr/bin:/bin"};
        const QByteArray hostKey = readFile(file("ssh_host_rsa_key.pub")).split(' ').mid(0, 2).join(' ');
        if (!writeFile(file("sshd_config"), config.join('\n').toLocal8Bit() + '\n')
            || !writeFile(knownHostsPath(), QStringLiteral("[127.0.0.1]:%1 ").arg(m_port).toLatin1() + hostKey + '\n')
            || !writeFile(file("ssh_config"), "IdentitiesOnly yes\nIdentityAgent none\nConnectTimeout 10\n"
                                              "IdentityFile " + QFile::encodeName(file("client_key")) + '\n')) {
            if (error)
                *error = QStringLiteral("cannot write the configuration");
            return false;
        }
        const QString log = file("sshd.log");
        QFile::remove(log);
        m_sshd = std::make_unique<QProcess>();
        m_sshd->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The server dies with the test, even when the test crashes.
        m_sshd->start("setpriv", {"--pdeathsig", "TERM", "/usr/sbin/sshd", "-D", "-f", file("sshd_config"), "-E", log});
        for (int waited = 0; waited < 10000 && m_sshd->state() != QProcess::NotRunning; waited += 20) {
            if (readFile(log).contains("Server listening on"))
                return true;
            QThread::msleep(20);
        }
        const QByteArray said = readFile(log);
        stop();
        if (!said.contains("Address already in use")) {
            if (error)
                *error = "sshd did not start: " + QString::fromLocal8Bit(said);
            return false;
        }
    }
    return false;
}

void SshdFixture::stop()
{
    if (m_sshd) {
        // Let the logins that are still closing end while the server can reap them.
        const QByteArray pid = QByteArray::number(m_sshd->processId());
        for (int waited = 0; waited < 3000 && !childProcessIds({}, pid).isEmpty(); waited += 20) {
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
    for (const auto &saved : qAsConst(m_savedEnv))
        saved.second.isNull() ? qunsetenv(saved.first.constData()) : qputenv(saved.first.constData(), saved.second);
    m_savedEnv.clear();
}

void SshdFixture::applyClientEnvironment()
{
    for (const auto &var : {qMakePair(QByteArray("NUVEK_KNOWN_HOSTS"), knownHostsPath()),
                            qMakePair(QByteArray("NUVEK_SSH_CONFIG"), file("ssh_config"))}) {
        m_savedEnv.append({var.first, qEnvironmentVariableIsSet(var.first.constData()) ? qgetenv(var.first.constData())
                                                                                       : QByteArray()});
        qputenv(var.first.constData(), QFile::encodeName(var.second));
    }
}
