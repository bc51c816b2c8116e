// The SSH link: SshDevice runs our plink, which logs in to a private sshd by key or by password
// and asks its questions through our askpass, which the "Connecting..." dialog answers; the
// stream carries JSON-RPC to a program on the server and the SOCKS forward carries TCP. Where
// a real server cannot produce a case, a stand-in plink or a hand-made helper plays its part.

#include "app/username.h"
#include "connections/linkfailure.h"
#include "link/askpasshandler.h"
#include "link/jsonrpchandler.h"
#include "link/netstring.h"
#include "link/operationstatusdialog.h"
#include "link/sshdevice.h"
#include "support/fakeplink.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

const int LoginTimeout = 20000;

// The server side of the stream: the start marker, then one reply per request that carries
// back the method and the params.
const char EchoServer[] = R"(#!/usr/bin/python3
import json, sys
inp, out = sys.stdin.buffer, sys.stdout.buffer
out.write(b"---- BEGIN Nuvek NetString ----\n"); out.flush()
while True:
    length = b""
    while True:
        c = inp.read(1)
        if not c:
            sys.exit(0)
        if c == b":":
            break
        length += c
    request = json.loads(inp.read(int(length))); inp.read(1)
    reply = json.dumps({"jsonrpc": "2.0", "id": request.get("id"),
                        "result": {"method": request.get("method"), "params": request.get("params")}}).encode()
    out.write(b"%d:%s," % (len(reply), reply)); out.flush()
)";

// One connection attempt, put together as the Connections window does it: a relay server
// whose helpers the dialog serves.
struct Attempt
{
    Attempt() : dialog(new OperationStatusDialog)
    {
        server = createAskpassServer(&device);
        QObject::connect(server, &QLocalServer::newConnection, dialog.get(),
                         &OperationStatusDialog::handleNewAskpassConnections);
        QObject::connect(&device, &SshDevice::connected, [this] { ++connectedCount; });
        QObject::connect(&device, &SshDevice::finished, [this](bool status) { finishedStatus << status; });
        // A port of our own, so that tests running beside this one don't collide.
        const quint16 port = SshdFixture::freePort();
        device.setTunnelPortRange(port, quint16(port + 1));
    }

    int page() const { return dialog->findChild<QStackedWidget *>("StackedWidget")->currentIndex(); }
    QLineEdit *edit(const char *name) const { return dialog->findChild<QLineEdit *>(name); }
    QString instructions() const { return dialog->findChild<QLabel *>("InstructionsLabel")->text(); }
    bool waitFor(int wanted) const
    {
        // A new question on the answer page comes with an empty answer.
        const auto asked = [&] {
            return page() == wanted && (wanted != OperationStatusDialog::AnswerPage || edit("AnswerLineEdit")->text().isEmpty());
        };
        return QTest::qWaitFor([&] { return asked() || !finishedStatus.isEmpty(); }, LoginTimeout) && asked();
    }
    void pressContinue() const
    {
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>("ButtonBox")->buttons()) {
            if (button->text() == QLatin1String("Continue"))
                button->click();
        }
    }
    bool waitForEnd() const
    {
        return QTest::qWaitFor([&] { return connectedCount > 0 || !finishedStatus.isEmpty(); }, LoginTimeout);
    }
    QString log() const { return device.log().join(QLatin1Char('\n')); }

    SshDevice device;
    QLocalServer *server = nullptr;
    std::unique_ptr<OperationStatusDialog> dialog;
    int connectedCount = 0;
    QList<bool> finishedStatus;
};

QByteArray socks5Connect(QTcpSocket &socket, quint16 targetPort)
{
    socket.write(QByteArray("\x05\x01\x00", 3));
    if (!socket.waitForReadyRead(5000) || socket.read(2) != QByteArray("\x05\x00", 2))
        return "method refused";
    QByteArray request("\x05\x01\x00\x01\x7f\x00\x00\x01", 8);
    socket.write(request.append(char(targetPort >> 8)).append(char(targetPort & 0xff)));
    while (socket.bytesAvailable() < 10) {
        if (!socket.waitForReadyRead(5000))
            return "no connect reply";
    }
    return socket.read(10).at(1) == 0 ? QByteArray() : "connect refused";
}

// The plink of this build in front of an "ssh" first on PATH that writes down its arguments,
// and with `flood` writes a megabyte without a line end to standard error and stays.
const int Flood = 1 << 20;
void startPlinkBeforeSsh(QProcess &plink, const QTemporaryDir &dir, const QStringList &arguments, bool flood)
{
    QFile script(dir.filePath("ssh"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n"
                 "[ -n \"$FLOOD\" ] || exit 255\necho $$ > \"$(dirname \"$0\")/pid\"\n"
                 "head -c " + QByteArray::number(Flood) + " /dev/zero | tr '\\0' x >&2\nexec sleep 60\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", dir.path() + ':' + environment.value("PATH"));
    environment.insert("NUVEK_KNOWN_HOSTS", dir.filePath("known_hosts"));
    if (flood)
        environment.insert("FLOOD", "1");
    plink.setProcessEnvironment(environment);
    plink.start(nuvekBinDir() + "/plink", arguments);
}

QByteArray readFrom(QLocalSocket &socket, int expected)
{
    QByteArray got;
    (void)QTest::qWaitFor([&] { return (got += socket.readAll()).size() >= expected; }, 5000);
    return got;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void keyLoginStreamAndTunnel();
    void dialogAnswersTheQuestions_data();
    void dialogAnswersTheQuestions();
    void clientEnds_data();
    void clientEnds();
    void failureReasons_data();
    void failureReasons();
    void oneQuestionAtATime();
    void relayOnlyForThisUser();
    void oddInputReachesSsh_data();
    void oddInputReachesSsh();

private:
    std::unique_ptr<SshdFixture> sshd;
};

void TestLink::initTestCase()
{
    QTemporaryDir settings;
    prepareClientEnvironment(settings.path());
    sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!sshd->isAvailable(&why))
        QSKIP(qPrintable(why));
    QVERIFY(sshd->installClientKey());
    sshd->addProgram("nuvek-echo", EchoServer);
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();
}

void TestLink::cleanupTestCase()
{
    QTRY_COMPARE(childProcessIds("plink").size() + childProcessIds("askpass").size(), 0);
    sshd.reset();
}

// Key login, JSON-RPC over the stream and a TCP connection through the SOCKS forward, all on
// one link, without a single question.
void TestLink::keyLoginStreamAndTunnel()
{
    Attempt attempt;
    attempt.device.connectTo(sshd->host(), sshd->port(), sshd->user(), "nuvek-echo", false,
                             attempt.server->fullServerName());
    QVERIFY2(attempt.waitForEnd() && attempt.connectedCount == 1, qPrintable(attempt.log()));
    QCOMPARE(attempt.device.realHost(), QString("localhost"));
    QCOMPARE(attempt.page(), int(OperationStatusDialog::StatusPage));

    JsonRpcHandler rpc(&attempt.device);
    QJsonValue result;
    bool answered = false;
    rpc.call("Nuvek.version", QJsonObject{{"client", "test"}}, [&](const QString &, const QJsonValue &r, const QJsonValue &) {
        result = r;
        answered = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
    QVERIFY2(rpc.isOk(), qPrintable(rpc.errorString()));
    QCOMPARE(QJsonDocument(result.toObject()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"method":"Nuvek.version","params":{"client":"test"}})"));

    QTcpServer target;
    QVERIFY(target.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, attempt.device.tunnelPort());
    QVERIFY(client.waitForConnected(5000));
    QCOMPARE(QString(socks5Connect(client, target.serverPort())), QString());
    QVERIFY(target.hasPendingConnections() || target.waitForNewConnection(5000));
    QTcpSocket *far = target.nextPendingConnection();
    client.write("through the tunnel");
    QTRY_COMPARE(far->bytesAvailable(), qint64(18));
    QCOMPARE(far->readAll(), QByteArray("through the tunnel"));
    far->write("and back");
    QTRY_COMPARE(client.bytesAvailable(), qint64(8));

    // Closing gives the server program end of input; the rest ends by itself.
    attempt.device.close();
    QCOMPARE(attempt.finishedStatus, QList<bool>{true});
}

void TestLink::dialogAnswersTheQuestions_data()
{
    // Each step waits for a question and answers it: "password", "wrong" (a wrong password,
    // again and again until ssh gives up), "hostkey" (accept), "user"; a step ending in "!"
    // closes the dialog unanswered instead.
    QTest::addColumn<bool>("keyLogin");
    QTest::addColumn<bool>("knownHost");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("connects");
    QTest::newRow("password") << false << true << QStringList{"password"} << true;
    QTest::newRow("wrong password") << false << true << QStringList{"wrong"} << false;
    QTest::newRow("password not given") << false << true << QStringList{"password!"} << false;
    QTest::newRow("unknown host key accepted") << true << false << QStringList{"hostkey"} << true;
    QTest::newRow("unknown host key not accepted") << true << false << QStringList{"hostkey!"} << false;
    QTest::newRow("user asked") << false << true << QStringList{"user", "password"} << true;
    QTest::newRow("user not given") << true << true << QStringList{"user!"} << false;
}

void TestLink::dialogAnswersTheQuestions()
{
    QFETCH(bool, keyLogin);
    QFETCH(bool, knownHost);
    QFETCH(QStringList, steps);
    QFETCH(bool, connects);
    if (!keyLogin)
        sshd->removeClientKey();
    QTemporaryDir dir;
    const QByteArray trusted = qgetenv("NUVEK_KNOWN_HOSTS");
    if (!knownHost)
        qputenv("NUVEK_KNOWN_HOSTS", QFile::encodeName(dir.filePath("known_hosts")));
    auto restore = qScopeGuard([&] {
        qputenv("NUVEK_KNOWN_HOSTS", trusted);
        sshd->installClientKey();
    });

    Attempt attempt;
    const bool askUser = steps.first().startsWith("user");
    attempt.device.connectTo(sshd->host(), sshd->port(), askUser ? QString() : sshd->user(), QString(), false,
                             attempt.server->fullServerName());
    for (QString step : steps) {
        const bool giveUp = step.endsWith('!');
        step.remove('!');
        if (step == "hostkey") {
            // The fingerprint the server's RSA host key really has, selected.
            QVERIFY2(attempt.waitFor(OperationStatusDialog::HostKeyPage), qPrintable(attempt.log()));
            QProcess keygen;
            keygen.start("ssh-keygen", {"-l", "-E", "sha256", "-f", sshd->tempPath() + "/ssh_host_rsa_key.pub"});
            QVERIFY(keygen.waitForFinished(10000));
            const QString fingerprint = QString::fromLatin1(keygen.readAllStandardOutput().split(' ').value(1));
            QCOMPARE(attempt.edit("HostKeyLineEdit")->selectedText(), fingerprint);
        } else if (step == "user") {
            QVERIFY2(attempt.waitFor(OperationStatusDialog::UserPage), qPrintable(attempt.log()));
            QCOMPARE(attempt.edit("UserLineEdit")->selectedText(), loggedOnUserName());
            attempt.edit("UserLineEdit")->setText(sshd->user());
        } else {
            QVERIFY2(attempt.waitFor(OperationStatusDialog::AnswerPage), qPrintable(attempt.log()));
            QCOMPARE(attempt.instructions(), QStringLiteral("%1@%2's password: ").arg(sshd->user(), sshd->host()));
            attempt.edit("AnswerLineEdit")->setText(step == "wrong" ? "not the password" : SshdFixture::password());
        }
        if (giveUp) {
            // The helper gets no answer, and the login is given up instead of retried.
            attempt.dialog.reset();
            break;
        }
        attempt.pressContinue();
        while (step == "wrong" && attempt.waitFor(OperationStatusDialog::AnswerPage)) {
            attempt.edit("AnswerLineEdit")->setText("not the password");
            attempt.pressContinue();
        }
    }
    QVERIFY(attempt.waitForEnd());
    QCOMPARE(attempt.connectedCount, connects ? 1 : 0);
    if (connects) {
        // The helper has gone: the dialog waits on its status page again, emptied.
        QTRY_COMPARE(attempt.page(), int(OperationStatusDialog::StatusPage));
        QVERIFY(attempt.edit("AnswerLineEdit")->text().isEmpty());
        QCOMPARE(attempt.device.user(), sshd->user());
        attempt.device.close();
    }
    QCOMPARE(attempt.finishedStatus, QList<bool>{connects});
    if (!knownHost) {
        // Only the accepted key was remembered.
        QFile file(dir.filePath("known_hosts"));
        QCOMPARE(file.open(QIODevice::ReadOnly) && file.readAll().contains("ssh-rsa "), connects);
    }
    if (steps.first() == "wrong") {
        QCOMPARE(attempt.device.errorString(), QString("plink quit with error code 255"));
        QVERIFY2(!attempt.log().contains("Access granted"), qPrintable(attempt.log()));
    }
}

void TestLink::clientEnds_data()
{
    QTest::addColumn<int>("exitCode"); // of a stand-in plink; -1: it crashes
    QTest::addColumn<QString>("missing"); // a helper program that cannot be started
    QTest::addColumn<bool>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("clean end") << 0 << "" << true << "Unknown error";
    QTest::newRow("error code") << 255 << "" << false << "plink quit with error code 255";
    QTest::newRow("crash") << -1 << "" << false << "plink crashed";
    QTest::newRow("no plink") << 0 << "plink" << false << "plink failed to start";
    // The user must be asked first, and nothing can ask: the attempt ends instead of waiting.
    QTest::newRow("no askpass") << 0 << "askpass" << false << "askpass failed to start";
}

void TestLink::clientEnds()
{
    QFETCH(int, exitCode);
    QFETCH(QString, missing);
    QFETCH(bool, status);
    QFETCH(QString, error);
    FakePlink plink;
    QVERIFY(plink.isValid());
    // A chatty client: the log keeps the newest lines within its limit.
    const QByteArray line = "debug1: a line of diagnostics that is sixty-odd characters long\n";
    plink.setRun(line.repeated(3000) + "first\nlast words without a line end", exitCode);
    const QString folder = qEnvironmentVariable("NUVEK_BIN_DIR");
    if (!missing.isEmpty())
        QVERIFY(QFile::setPermissions(folder + '/' + missing, QFile::ReadOwner));
    // Not on the PATH either.
    const QByteArray path = qgetenv("PATH");
    if (missing == "plink")
        qputenv("PATH", QFile::encodeName(folder));
    SshDevice device;
    QSignalSpy finished(&device, &SshDevice::finished);
    device.connectTo("srv1", 0, missing == "askpass" ? QString() : "alice", "sci", false, "x");
    qputenv("PATH", path);
    QVERIFY(finished.count() == 1 || finished.wait(5000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), status);
    QCOMPARE(device.errorString(), error);
    if (exitCode >= 0 && missing.isEmpty()) { // the log outlives the link
        QCOMPARE(device.log().mid(device.log().size() - 2), (QStringList{"first", "last words without a line end"}));
        const int total = device.log().join(QString()).size();
        QVERIFY(total <= SshDevice::LogLimit && total > SshDevice::LogLimit - line.size());
    }
    device.close();
    QCOMPARE(finished.count(), 1);
}

// What the user is told when a link ends, read from the SSH client's log.
void TestLink::failureReasons_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("message"); // empty: no box
    const QString contact = "Unable to contact the server. Check that the server is properly installed and "
                            "that the SCI is accessible to the user \"alice\".";
    const QString auth = "Unable to authenticate the user \"alice\".";
    const QString plain = "plink quit with error code 1";
    QTest::newRow("too many failures") << QByteArray("Received disconnect: Too many authentication failures\n") << 1
                                       << QByteArray() << auth;
    QTest::newRow("host does not exist") << QByteArray("FATAL ERROR: Host does not exist\n") << 1 << QByteArray()
        << "The host \"server.example\" was not recognized. Make sure the hostname is correct.";
    // OpenSSH's verbose lines name the known-hosts files it does not find; that is no
    // missing server program.
    QTest::newRow("verbose lines and a reason")
        << QByteArray("debug1: load_hostkeys: fopen /home/alice/.ssh/known_hosts2: No such file or directory\n"
                      "No more authentication methods to try\n")
        << 1 << QByteArray() << auth;
    QTest::newRow("nothing known") << QByteArray("Connection refused\n") << 1 << QByteArray() << plain;
    // Its lines about identity files it could not read are no missing server program either.
    const QByteArray missingIdentity = "no such identity: /home/alice/.ssh/id_work: No such file or directory\n";
    QTest::newRow("missing identity, failed login")
        << missingIdentity + "alice@server.example: Permission denied (publickey,password).\n"
                             "No more authentication methods to try\n"
        << 1 << QByteArray() << auth;
    QTest::newRow("inaccessible identity, timeout")
        << QByteArray("Warning: Identity file /home/alice/id not accessible: No such file or directory.\n"
                      "ssh: connect to host 10.0.0.1 port 22: Connection timed out\n")
        << 1 << QByteArray() << "Unable to connect to the host \"server.example\".";
    QTest::newRow("missing identity, then a missing program")
        << missingIdentity + "Authenticated to server.example ([10.0.0.1]:22) using \"password\".\nAccess granted\n"
                             "bash: line 1: nuvek2_sci: command not found\n"
        << 1 << QByteArray() << contact;
    QTest::newRow("the program's own words after login")
        << QByteArray("Access granted\nnuvek2_sci: warning: Connection timed out talking to the display\n") << 1
        << QByteArray() << plain;
    QTest::newRow("clean end") << QByteArray("Access granted\n") << 0 << QByteArray() << "";
    // The link ended cleanly, but the server program's stream was broken.
    QTest::newRow("broken stream") << QByteArray("Access granted\n") << 0
                                   << QByteArray("---- BEGIN Nuvek NetString ----\nnot a netstring,") << "<stream>";
}

void TestLink::failureReasons()
{
    QFETCH(QByteArray, log);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);
    QFETCH(QString, message);
    FakePlink plink;
    plink.setRun(log, exitCode, output, output.isEmpty() ? 0 : 2);
    SshDevice device;
    auto *client = new JsonRpcHandler(&device, &device);
    QSignalSpy finished(&device, &SshDevice::finished);
    device.connectTo("server.example", 22, "alice", "nuvek2_sci", false, "/nonexistent/askpass-socket");
    QVERIFY(finished.wait(10000));
    std::unique_ptr<QMessageBox> box(reportLinkFailure(&device, client));
    QCOMPARE(box != nullptr, !message.isEmpty());
    if (!box)
        return;
    if (message == "<stream>") {
        QVERIFY(!client->isOk());
        QVERIFY(box->text().endsWith(client->errorString().toHtmlEscaped().replace("&quot;", "\"")));
        QVERIFY(box->detailedText().isEmpty());
        return;
    }
    QVERIFY2(box->text().startsWith("There was a problem with the connection.<br><br>" + message), qPrintable(box->text()));
    // The whole log goes into the details.
    QCOMPARE(box->detailedText(), device.log().join('\n'));
}

void TestLink::oneQuestionAtATime()
{
    Attempt relay;
    QLocalSocket first, second;
    first.connectToServer(relay.server->fullServerName());
    first.write(encodeNetString("first password: "));
    QTRY_COMPARE(relay.instructions(), QStringLiteral("first password: "));
    // The second helper waits for the first to go.
    second.connectToServer(relay.server->fullServerName());
    second.write(encodeNetString("second password: "));
    QVERIFY(second.waitForBytesWritten(1000) || second.bytesToWrite() == 0);
    QCoreApplication::processEvents();
    QCOMPARE(relay.instructions(), QStringLiteral("first password: "));
    relay.edit("AnswerLineEdit")->setText("one");
    relay.pressContinue();
    QCOMPARE(readFrom(first, 6), QByteArray("3:one,"));
    first.disconnectFromServer();
    QTRY_COMPARE(relay.instructions(), QStringLiteral("second password: "));
    relay.edit("AnswerLineEdit")->setText("two");
    relay.pressContinue();
    QCOMPARE(readFrom(second, 6), QByteArray("3:two,"));
}

void TestLink::relayOnlyForThisUser()
{
    std::unique_ptr<QLocalServer> first(createAskpassServer(nullptr));
    std::unique_ptr<QLocalServer> second(createAskpassServer(nullptr));
    QVERIFY(QRegularExpression("^askpass-[0-9a-f]{32}$").match(first->serverName()).hasMatch());
    QVERIFY(first->serverName() != second->serverName());
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(first->fullServerName()).constData(), &info), 0);
    QVERIFY(S_ISSOCK(info.st_mode));
    QCOMPARE(info.st_mode & 0777, mode_t(0700));
    QCOMPARE(info.st_uid, geteuid());
    const QString path = first->fullServerName();
    first.reset();
    QVERIFY(!QFileInfo::exists(path));
}

// A host beginning with "-" reaches ssh as a host, and standard error without line ends is
// passed on while it comes, not gathered without end: through the client and through plink.
void TestLink::oddInputReachesSsh_data()
{
    QTest::addColumn<bool>("client");
    QTest::addColumn<bool>("flood");
    QTest::newRow("host like an option, client") << true << false;
    QTest::newRow("host like an option, plink") << false << false;
    QTest::newRow("endless line, client") << true << true;
    QTest::newRow("endless line, plink") << false << true;
}

void TestLink::oddInputReachesSsh()
{
    QFETCH(bool, client);
    QFETCH(bool, flood);
    const QString host = flood ? "server.example" : "-oProxyCommand=x";
    if (client) {
        FakePlink plink;
        plink.setRun(flood ? QByteArray(Flood, 'x') : QByteArray(), flood ? 0 : 1, QByteArray(), flood ? 60 : 0);
        SshDevice device;
        QSignalSpy finished(&device, &SshDevice::finished);
        device.connectTo(host, 22, "alice", "nuvek2_sci", false, "/nonexistent/askpass-socket");
        if (flood) {
            QTRY_VERIFY_WITH_TIMEOUT(device.log().join(QString()).size() >= SshDevice::LogLimit / 2, 10000);
            QVERIFY(device.log().join(QString()).size() <= SshDevice::LogLimit);
            device.close();
            QTRY_VERIFY(childProcessIds("plink").isEmpty());
            return;
        }
        QVERIFY(finished.wait(10000));
        const QStringList arguments = plink.lastArguments();
        QVERIFY2(arguments.indexOf("--") == arguments.indexOf(host) - 1, qPrintable(arguments.join(' ')));
        return;
    }
    QTemporaryDir dir;
    QProcess plink;
    startPlinkBeforeSsh(plink, dir, {"-l", "alice", "--", host, "cmd"}, flood);
    if (!flood) {
        QVERIFY(plink.waitForFinished(10000));
        QVERIFY2(!plink.readAllStandardError().contains("unknown option"), "plink took the host for an option");
        QFile args(dir.filePath("args"));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QVERIFY(args.readAll().endsWith("--\n" + host.toLatin1() + "\ncmd\n"));
        return;
    }
    qint64 passedOn = 0;
    QTRY_VERIFY_WITH_TIMEOUT((passedOn += plink.readAllStandardError().size()) >= Flood / 2, 10000);
    plink.terminate();
    QVERIFY(plink.waitForFinished(10000));
    // ssh ended with plink.
    QFile pid(dir.filePath("pid"));
    QVERIFY(pid.open(QIODevice::ReadOnly));
    const QString proc = "/proc/" + QString::fromLatin1(pid.readAll().trimmed());
    QTRY_VERIFY(!QFile::exists(proc));
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
