// plink: the SSH client Nuvek starts for every link to a server.
//
// It takes plink's command line and runs OpenSSH's ssh underneath. The remote
// command's standard input and output are ssh's own (the file descriptors are
// handed over, nothing is copied); standard error is read line by line, passed
// on, and completed with the plink-style lines the client watches for
// ("Connecting to ADDRESS port PORT", "Access granted", ...).
//
// Every question ssh has (passwords, passphrases, unknown host keys) goes to the
// program named in SSH_ASKPASS, with or without a terminal. ssh does not call
// that program directly but this one again, in "askpass mode", which makes host
// key questions recognisable for every key type and ends the login when the
// user cancels a question instead of letting ssh send an empty answer.

#include "app/datafolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Set for ssh's askpass calls: the program the user's questions really go to.
const char AskpassTargetVariable[] = "NUVEK_PLINK_ASKPASS";
const char AskpassModeVariable[] = "NUVEK_PLINK_ASKPASS_MODE";

const char UsageText[] =
    "Usage: plink [options] host [command]\n"
    "\n"
    "Logs in to host with SSH and runs command there (as one argument); its\n"
    "standard input and output are plink's. Passwords, passphrases and unknown\n"
    "host keys are asked through the program named in SSH_ASKPASS.\n"
    "\n"
    "Options:\n"
    "  -v         verbose diagnostics on standard error\n"
    "  -P port    connect to this port (default 22)\n"
    "  -l user    log in as user\n"
    "  -2         use SSH protocol 2 (the only one there is)\n"
    "  -fips      offer only FIPS 140-approved ciphers, MACs, key exchanges and\n"
    "             host-key algorithms\n"
    "  -G         no GSSAPI authentication\n"
    "  -F         no X11 or agent forwarding\n"
    "  -D port    dynamic (SOCKS) forward on 127.0.0.1:port; the link fails if\n"
    "             the port cannot be bound\n"
    "  -N         run no command (forwarding only)\n"
    "  --help     show this text\n"
    "  --         the end of the options (for a host that begins with \"-\")\n"
    "\n"
    "Standard error carries ssh's messages and the lines \"Connecting to ADDRESS\n"
    "port PORT\", \"Access granted\" and \"No more authentication methods to try\".\n"
    "The exit code is the remote command's; 0 is a clean end.\n"
    "\n"
    "Environment:\n"
    "  SSH_ASKPASS         the program that asks the user (default: askpass beside plink)\n"
    "  NUVEK_KNOWN_HOSTS   the known_hosts file (default: known_hosts in the user's\n"
    "                      Nuvek data folder)\n"
    "  NUVEK_SSH_CONFIG    an ssh_config file read instead of the user's\n";

// Algorithms of FIPS 140-approved primitives that OpenSSH offers.
const char FipsCiphers[] = "aes256-gcm@openssh.com,aes128-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr";
const char FipsMacs[] = "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,"
                        "hmac-sha2-512";
const char FipsKex[] = "ecdh-sha2-nistp256,ecdh-sha2-nistp384,ecdh-sha2-nistp521,"
                       "diffie-hellman-group-exchange-sha256,diffie-hellman-group14-sha256,"
                       "diffie-hellman-group16-sha512,diffie-hellman-group18-sha512";
const char FipsKeys[] = "ecdsa-sha2-nistp256-cert-v01@openssh.com,ecdsa-sha2-nistp384-cert-v01@openssh.com,"
                        "ecdsa-sha2-nistp521-cert-v01@openssh.com,rsa-sha2-512-cert-v01@openssh.com,"
                        "rsa-sha2-256-cert-v01@openssh.com,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,"
                        "ecdsa-sha2-nistp521,rsa-sha2-512,rsa-sha2-256";

struct Options
{
    bool verbose = false;
    bool fips = false;
    bool noGssapi = false;
    bool noForwarding = false;
    bool noCommand = false;
    QString port;
    QString user;
    QString socksPort;
    QString host;
    QString command;
    bool hasCommand = false;
};

void writeError(const QByteArray &text)
{
    const char *data = text.constData();
    qint64 left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= n;
    }
}

void writeErrorLine(const QString &line)
{
    writeError(line.toLocal8Bit() + '\n');
}

bool isPort(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    return ok && value >= 1 && value <= 65535 && !text.startsWith(QLatin1Char('+'));
}

// Returns -1 to go on, else the exit code.
int parseArguments(const QStringList &args, Options &options)
{
    int i = 1;
    const auto value = [&](const QString &option, QString &target) {
        if (i + 1 >= args.size()) {
            writeErrorLine(QStringLiteral("plink: option \"%1\" needs an argument").arg(option));
            return false;
        }
        target = args.at(++i);
        return true;
    };
    for (; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            break;
        if (arg == QLatin1String("--")) {
            ++i;
            break;
        }
        if (arg == QLatin1String("--help")) {
            writeError(UsageText);
            return 0;
        } else if (arg == QLatin1String("-v")) {
            options.verbose = true;
        } else if (arg == QLatin1String("-2")) {
        } else if (arg == QLatin1String("-fips")) {
            options.fips = true;
        } else if (arg == QLatin1String("-G")) {
            options.noGssapi = true;
        } else if (arg == QLatin1String("-F")) {
            options.noForwarding = true;
        } else if (arg == QLatin1String("-N")) {
            options.noCommand = true;
        } else if (arg == QLatin1String("-P") || arg == QLatin1String("-D")) {
            QString &target = arg == QLatin1String("-P") ? options.port : options.socksPort;
            if (!value(arg, target))
                return 1;
            if (!isPort(target)) {
                writeErrorLine(QStringLiteral("plink: \"%1\" is not a port number").arg(target));
                return 1;
            }
        } else if (arg == QLatin1String("-l")) {
            if (!value(arg, options.user))
                return 1;
        } else {
            writeErrorLine(QStringLiteral("plink: unknown option \"%1\"").arg(arg));
            return 1;
        }
    }
    if (i >= args.size()) {
        writeErrorLine(QStringLiteral("plink: no host given (see plink --help)"));
        return 1;
    }
    options.host = args.at(i++);
    if (i < args.size()) {
        options.command = args.at(i++);
        options.hasCommand = true;
    }
    if (i < args.size()) {
        writeErrorLine(QStringLiteral("plink: the command must be one argument"));
        return 1;
    }
    if (options.noCommand && options.hasCommand) {
        writeErrorLine(QStringLiteral("plink: \"-N\" and a command exclude each other"));
        return 1;
    }
    return -1;
}

// A file that exists, so that ssh has nothing to complain about.
QString ensureFile(const QString &path)
{
    QFileInfo info(path);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    return path;
}

QString userKnownHosts()
{
    const QString configured = qEnvironmentVariable("NUVEK_KNOWN_HOSTS");
    if (!configured.isEmpty())
        return ensureFile(configured);
    const QDir data = userDataDir();
    if (data.path().isEmpty() || data.path() == QLatin1String("."))
        return QStringLiteral("/dev/null");
    return ensureFile(data.filePath(QStringLiteral("known_hosts")));
}

QString globalKnownHosts()
{
    const QString path = globalDataDir().filePath(QStringLiteral("known_hosts"));
    return QFileInfo(path).isFile() ? path : QStringLiteral("/dev/null");
}

// A program name as given, or looked up beside plink first, then on PATH.
QString findProgram(const QString &name)
{
    if (name.contains(QLatin1Char('/')))
        return name;
    const QString beside = QStandardPaths::findExecutable(name, {QCoreApplication::applicationDirPath()});
    if (!beside.isEmpty())
        return beside;
    return QStandardPaths::findExecutable(name);
}

// A file name as one ssh option value: ssh splits values at blanks unless quoted, and
// reads "%" as the start of a token. The data folders have blanks in their names.
QString sshPathValue(const QString &path)
{
    QString value = path;
    value.replace(QLatin1Char('%'), QLatin1String("%%"));
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QStringList sshArguments(const Options &options)
{
    const auto option = [](const QString &setting) { return QStringList{QStringLiteral("-o"), setting}; };
    QStringList args;
    args << QStringLiteral("-v");
    const QString config = qEnvironmentVariable("NUVEK_SSH_CONFIG");
    if (!config.isEmpty())
        args << QStringLiteral("-F") << config;
    // A plain byte pipe: no terminal, no escape character, no shared connection,
    // no command from a config file.
    args << QStringLiteral("-T") << option(QStringLiteral("EscapeChar=none"))
         << option(QStringLiteral("ControlMaster=no")) << option(QStringLiteral("ControlPath=none"))
         << option(QStringLiteral("RemoteCommand=none")) << option(QStringLiteral("PermitLocalCommand=no"))
         << option(QStringLiteral("BatchMode=no"));
    args << option(QStringLiteral("StrictHostKeyChecking=ask"))
         << option(QStringLiteral("UserKnownHostsFile=") + sshPathValue(userKnownHosts()))
         << option(QStringLiteral("GlobalKnownHostsFile=") + sshPathValue(globalKnownHosts()))
         << option(QStringLiteral("UpdateHostKeys=no"));
    if (!options.port.isEmpty())
        args << QStringLiteral("-p") << options.port;
    if (options.fips) {
        args << option(QStringLiteral("Ciphers=") + QLatin1String(FipsCiphers))
             << option(QStringLiteral("MACs=") + QLatin1String(FipsMacs))
             << option(QStringLiteral("KexAlgorithms=") + QLatin1String(FipsKex))
             << option(QStringLiteral("HostKeyAlgorithms=") + QLatin1String(FipsKeys))
             << option(QStringLiteral("PubkeyAcceptedAlgorithms=") + QLatin1String(FipsKeys))
             << option(QStringLiteral("CASignatureAlgorithms=") + QLatin1String(FipsKeys));
    }
    if (options.noGssapi)
        args << option(QStringLiteral("GSSAPIAuthentication=no"));
    if (options.noForwarding)
        args << option(QStringLiteral("ForwardX11=no")) << option(QStringLiteral("ForwardAgent=no"));
    if (!options.socksPort.isEmpty()) {
        args << QStringLiteral("-D") << QStringLiteral("127.0.0.1:") + options.socksPort
             << option(QStringLiteral("ExitOnForwardFailure=yes"));
    }
    if (options.noCommand)
        args << QStringLiteral("-N");
    if (!options.user.isEmpty())
        args << QStringLiteral("-l") << options.user;
    args << QStringLiteral("--") << options.host;
    if (options.hasCommand)
        args << options.command;
    return args;
}

// ---------------------------------------------------------------------------
// Standard error of ssh, line by line.

class LineTranslator
{
public:
    static constexpr int MaxLineLength = 4096;

    explicit LineTranslator(bool verbose)
        : m_verbose(verbose)
    {
    }

    void feed(const char *data, size_t size)
    {
        m_pending.append(data, int(size));
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            handle(line);
        }
        // A line without end (the remote side may write anything) is passed on in pieces.
        while (m_pending.size() >= MaxLineLength) {
            handle(m_pending.left(MaxLineLength));
            m_pending.remove(0, MaxLineLength);
        }
    }

    void finish()
    {
        if (!m_pending.isEmpty())
            handle(m_pending);
        m_pending.clear();
    }

    bool accessGranted() const { return m_accessGranted; }

private:
    void handle(QByteArray line)
    {
        // ssh ends its own lines with CR LF.
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromLocal8Bit(line);

        static const QRegularExpression connecting(
            QStringLiteral("^debug1: Connecting to .* \\[(.*)\\] port (\\d+)\\.$"));
        static const QRegularExpression connectFailed(
            QStringLiteral("^ssh: connect to host .* port \\d+: (.*)$"));
        const QRegularExpressionMatch match = connecting.match(text);
        if (match.hasMatch()) {
            // The address, not the name, so that the reader can look it up.
            writeErrorLine(QStringLiteral("Connecting to %1 port %2").arg(match.captured(1), match.captured(2)));
            return;
        }
        if (text.startsWith(QLatin1String("debug"))) {
            if (text.contains(QLatin1String("No more authentication methods to try")))
                refused();
            else if (m_verbose)
                writeError(line + '\n');
            return;
        }
        // ssh's own verbose-level lines, shown when asked for.
        if (!m_verbose && !m_accessGranted && text.startsWith(QLatin1String("OpenSSH_")))
            return;
        if (!m_verbose && (text.startsWith(QLatin1String("Transferred: sent "))
                           || text.startsWith(QLatin1String("Bytes per second: sent "))))
            return;
        writeError(line + '\n');
        if (!m_accessGranted && text.startsWith(QLatin1String("Authenticated to "))) {
            m_accessGranted = true;
            writeErrorLine(QStringLiteral("Access granted"));
        } else if (!m_accessGranted && (text.contains(QLatin1String(": Permission denied ("))
                                        || text.contains(QLatin1String("Too many authentication failures")))) {
            refused();
        } else {
            const QRegularExpressionMatch failed = connectFailed.match(text);
            if (failed.hasMatch())
                writeErrorLine(QStringLiteral("FATAL ERROR: Network error: %1").arg(failed.captured(1)));
        }
    }

    void refused()
    {
        if (m_refused)
            return;
        m_refused = true;
        writeErrorLine(QStringLiteral("No more authentication methods to try"));
    }

    bool m_verbose;
    bool m_accessGranted = false;
    bool m_refused = false;
    QByteArray m_pending;
};

volatile sig_atomic_t childPid = 0;

void forwardSignal(int)
{
    if (childPid > 0)
        ::kill(pid_t(childPid), SIGTERM);
}

std::vector<std::string> toStrings(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &s : list)
        out.push_back(s.toLocal8Bit().toStdString());
    return out;
}

int runSsh(const Options &options)
{
    const QString askpassTarget = findProgram(
        qEnvironmentVariableIsSet("SSH_ASKPASS") ? qEnvironmentVariable("SSH_ASKPASS") : QStringLiteral("askpass"));
    const std::vector<std::string> argv = toStrings(QStringList{QStringLiteral("ssh")} + sshArguments(options));
    const std::string self = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    const std::string target = QFile::encodeName(askpassTarget).toStdString();

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        writeErrorLine(QStringLiteral("plink: cannot make a pipe: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }

    std::vector<char *> cargv;
    for (const std::string &s : argv)
        cargv.push_back(const_cast<char *>(s.c_str()));
    cargv.push_back(nullptr);

    // Block the signals until the child's pid is known.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGHUP);
    sigprocmask(SIG_BLOCK, &block, &old);

    const pid_t pid = ::fork();
    if (pid < 0) {
        writeErrorLine(QStringLiteral("plink: cannot start ssh: %1").arg(QString::fromLocal8Bit(strerror(errno))));
        return 1;
    }
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        // ssh ends with plink, whatever ends plink.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1)
            ::_exit(1);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::setenv("SSH_ASKPASS", self.c_str(), 1);
        ::setenv("SSH_ASKPASS_REQUIRE", "force", 1);
        ::setenv(AskpassModeVariable, "1", 1);
        ::setenv(AskpassTargetVariable, target.c_str(), 1);
        if (!::getenv("DISPLAY"))
            ::setenv("DISPLAY", ":0", 1);
        ::execvp("ssh", cargv.data());
        const char message[] = "plink: cannot run ssh\n";
        (void)!::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    childPid = pid;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = forwardSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    sigprocmask(SIG_SETMASK, &old, nullptr);

    ::close(errPipe[1]);
    // The data stream is ssh's alone: once it ends, the reader sees the end.
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::close(devNull);
    }

    LineTranslator translator(options.verbose);
    char buffer[4096];
    int status = 0;
    bool exited = false;
    bool pipeOpen = true;
    while (!exited) {
        if (pipeOpen) {
            pollfd fd = {errPipe[0], POLLIN, 0};
            const int ready = ::poll(&fd, 1, 200);
            if (ready > 0) {
                const ssize_t n = ::read(errPipe[0], buffer, sizeof buffer);
                if (n > 0)
                    translator.feed(buffer, size_t(n));
                else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                    pipeOpen = false;
            }
        }
        const pid_t done = ::waitpid(pid, &status, pipeOpen ? WNOHANG : 0);
        if (done == pid)
            exited = true;
    }
    // What ssh wrote just before it ended; a helper it left behind may hold
    // the pipe open, so don't wait for the end of it.
    if (pipeOpen) {
        ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
        ssize_t n;
        while ((n = ::read(errPipe[0], buffer, sizeof buffer)) > 0)
            translator.feed(buffer, size_t(n));
    }
    translator.finish();
    ::close(errPipe[0]);

    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 1;
}

// ---------------------------------------------------------------------------
// Askpass mode: ssh asks the user a question through us.

int runAskpass(const QStringList &args)
{
    const QString target = qEnvironmentVariable(AskpassTargetVariable);
    QString prompt = args.value(1);

    static const QRegularExpression hostKeyQuestion(
        QStringLiteral("^The authenticity of host '([^']*)'.*^(\\S+) key fingerprint is (\\S+)\\.$"),
        QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch hostKey = hostKeyQuestion.match(prompt);
    if (hostKey.hasMatch() && hostKey.captured(2) != QLatin1String("RSA")) {
        // The dialog knows RSA keys by their fingerprint line and every other
        // key by a "Store key" line.
        QString host = hostKey.captured(1);
        host = host.left(host.indexOf(QLatin1Char(' ')));
        prompt += QStringLiteral("\nStore key %1 %2 for host %3?")
                      .arg(hostKey.captured(2), hostKey.captured(3), host);
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QLatin1String(AskpassModeVariable));
    environment.remove(QLatin1String(AskpassTargetVariable));
    environment.insert(QStringLiteral("SSH_ASKPASS"), target);

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    bool ok = false;
    if (!target.isEmpty()) {
        process.start(target, {prompt});
        ok = process.waitForStarted(-1) && process.waitForFinished(-1)
             && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    if (!ok) {
        // Without an answer ssh would send an empty one and ask again: end the
        // login instead, as the user asked.
        writeErrorLine(QStringLiteral("Connection abandoned."));
        ::kill(::getppid(), SIGTERM);
        return 1;
    }
    QByteArray answer = process.readAllStandardOutput();
    if (hostKey.hasMatch() && answer == "save")
        answer = "yes";
    std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
    std::fputc('\n', stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (qEnvironmentVariableIsSet(AskpassModeVariable))
        return runAskpass(args);

    Options options;
    const int result = parseArguments(args, options);
    if (result >= 0)
        return result;
    return runSsh(options);
}
