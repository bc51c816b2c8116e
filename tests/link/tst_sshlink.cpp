// The whole link against a private sshd: our plink over OpenSSH, our askpass
// through a local relay server, SshDevice on top.

#include "support/sshdfixture.h"
#include "support/testsupport.h"
#include "app/cookie.h"
#include "link/jsonrpchandler.h"
#include "link/netstring.h"
#include "link/sshdevice.h"

#include <QFile>
#include <QHostAddress>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The server side of the stream: the start marker, then one reply per request
// that carries back the method and the params.
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
        if c.isdigit():
            length += c
    payload = inp.read(int(length)); inp.read(1)
    request = json.loads(payload)
    reply = json.dumps({"jsonrpc": "2.0", "id": request.get("id"),
                        "result": {"method": request.get("method"), "params": request.get("params")}}).encode()
    out.write(b"%d:%s," % (len(reply), reply)); out.flush()
)";

// The program side of the askpass relay: answers each question with what
// `answer` returns; a null answer closes the socket unanswered.
class AskpassResponder : public QObject
{
public:
    std::function<QByteArray(const QString &)> answer;
    QStringList questions;

    AskpassResponder()
    {
        QString error;
        QString cookie;
        generateCookie(cookie, error);
        m_server.listen(QStringLiteral("askpass-") + cookie);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                auto reader = std::make_shared<NetStringReader>(socket, "AskpassResponder");
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QLocalSocket::readyRead, socket, [this, socket, reader] {
                    QByteArray question;
                    if (!reader->readSingleFrame(question))
                        return;
                    questions << QString::fromUtf8(question);
                    const QByteArray reply = answer ? answer(questions.last()) : QByteArray();
                    if (reply.isNull())
                        socket->disconnectFromServer();
                    else
                        socket->write(encodeNetString(QString::fromUtf8(reply)));
                });
            }
        });
    }

    QString name() const { return m_server.fullServerName(); }

private:
    QLocalServer m_server;
};

QByteArray socks5Connect(QTcpSocket &socket, quint16 targetPort)
{
    socket.write(QByteArray("\x05\x01\x00", 3));
    if (!socket.waitForReadyRead(5000))
        return "no method reply";
    if (socket.read(2) != QByteArray("\x05\x00", 2))
        return "method refused";
    QByteArray request("\x05\x01\x00\x01\x7f\x00\x00\x01", 8);
    request.append(char(targetPort >> 8)).append(char(targetPort & 0xff));
    socket.write(request);
    while (socket.bytesAvailable() < 10)
        if (!socket.waitForReadyRead(5000))
            return "no connect reply";
    const QByteArray reply = socket.read(10);
    return reply.at(1) == 0 ? QByteArray() : "connect refused: " + QByteArray::number(int(reply.at(1)));
}

} // namespace

class TestSshLink : public QObject
{
    Q_OBJECT

private:
    SshdFixture m_sshd;
    QTemporaryDir m_dir;

    std::unique_ptr<SshDevice> makeDevice()
    {
        auto device = std::make_unique<SshDevice>();
        const quint16 port = SshdFixture::freePort();
        device->setTunnelPortRange(port, port + 1);
        return device;
    }

    QString plink() const { return qEnvironmentVariable("NUVEK_BIN_DIR") + QStringLiteral("/plink"); }

private slots:
    void initTestCase()
    {
        QString why;
        if (!m_sshd.isAvailable(&why)) {
            QTest::qSkip(qPrintable(why), __FILE__, __LINE__);
            return;
        }
        if (!qEnvironmentVariableIsSet("NUVEK_BIN_DIR"))
            qputenv("NUVEK_BIN_DIR", NUVEK_BIN_DIR);
        qunsetenv("SSH_ASKPASS");
        QVERIFY(m_sshd.installClientKey());
        m_sshd.addProgram(QStringLiteral("nuvek-echo"), EchoServer);
        QVERIFY2(m_sshd.start(&why), qPrintable(why));
        m_sshd.applyClientEnvironment();
    }

    void cleanupTestCase() { m_sshd.stop(); }

    void init()
    {
        m_sshd.installClientKey();
        qputenv("NUVEK_KNOWN_HOSTS", QFile::encodeName(m_sshd.knownHostsPath()));
    }

    // Key login, JSON-RPC over the stream and a TCP connection through the
    // SOCKS forward, all on one link.
    void keyLoginStreamAndTunnel()
    {
        AskpassResponder askpass;
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo(m_sshd.host(), m_sshd.port(), m_sshd.user(), QStringLiteral("nuvek-echo"), false,
                          askpass.name());
        QVERIFY2(connectedSpy.wait(20000), qPrintable(device->log().join('\n')));
        QCOMPARE(device->realHost(), QString("localhost"));
        QVERIFY(askpass.questions.isEmpty());
        QVERIFY(device->tunnelPort() != 0);

        JsonRpcHandler rpc(device.get());
        QJsonValue result;
        bool answered = false;
        rpc.call(QStringLiteral("Nuvek.version"), QJsonObject{{"client", "test"}},
                 [&](const QString &, const QJsonValue &r, const QJsonValue &) {
                     result = r;
                     answered = true;
                 });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        QVERIFY2(rpc.isOk(), qPrintable(rpc.errorString()));
        QCOMPARE(result.toObject().value("method").toString(), QString("Nuvek.version"));
        QCOMPARE(result.toObject().value("params").toObject().value("client").toString(), QString("test"));

        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost, 0));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, device->tunnelPort());
        QVERIFY(client.waitForConnected(5000));
        QCOMPARE(socks5Connect(client, target.serverPort()), QByteArray());
        QVERIFY(target.hasPendingConnections() || target.waitForNewConnection(5000));
        QTcpSocket *far = target.nextPendingConnection();
        client.write("through the tunnel");
        QTRY_COMPARE(far->bytesAvailable(), qint64(18));
        QCOMPARE(far->readAll(), QByteArray("through the tunnel"));
        far->write("and back");
        QTRY_COMPARE(client.bytesAvailable(), qint64(8));

        // Closing gives the server program end of input; the rest ends by itself.
        device->close();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
    }

    void passwordLogin_data()
    {
        QTest::addColumn<bool>("rightPassword");
        QTest::newRow("right password") << true;
        QTest::newRow("wrong password") << false;
    }

    void passwordLogin()
    {
        QFETCH(bool, rightPassword);
        m_sshd.removeClientKey();
        AskpassResponder askpass;
        askpass.answer = [&](const QString &) {
            return rightPassword ? SshdFixture::password().toUtf8() : QByteArray("not the password");
        };
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo(m_sshd.host(), m_sshd.port(), m_sshd.user(), QStringLiteral("nuvek-echo"), false,
                          askpass.name());
        if (rightPassword) {
            QVERIFY2(connectedSpy.wait(20000), qPrintable(device->log().join('\n')));
            QCOMPARE(askpass.questions, QStringList{m_sshd.user() + "@127.0.0.1's password: "});
            device->close();
            return;
        }
        QVERIFY(finished.wait(30000));
        QCOMPARE(connectedSpy.count(), 0);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(device->errorString(), QString("plink quit with error code 255"));
        const QString log = device->log().join('\n');
        QVERIFY2(log.contains("No more authentication methods to try")
                     || log.contains("Too many authentication failures"),
                 qPrintable(log));
        QVERIFY(!log.contains("Access granted"));
        QVERIFY(askpass.questions.size() >= 1);
        for (const QString &question : askpass.questions)
            QVERIFY(question.endsWith("password: "));
    }

    void unknownHostKey_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted and stored") << true;
        QTest::newRow("question cancelled") << false;
    }

    void unknownHostKey()
    {
        QFETCH(bool, accept);
        const QString knownHosts = m_dir.filePath(QStringLiteral("known_hosts-%1").arg(accept));
        QFile::remove(knownHosts);
        qputenv("NUVEK_KNOWN_HOSTS", QFile::encodeName(knownHosts));
        AskpassResponder askpass;
        askpass.answer = [&](const QString &question) {
            return accept && question.contains("RSA key fingerprint is ") ? QByteArray("yes") : QByteArray();
        };
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo(m_sshd.host(), m_sshd.port(), m_sshd.user(), QStringLiteral("nuvek-echo"), false,
                          askpass.name());
        if (accept) {
            QVERIFY2(connectedSpy.wait(20000), qPrintable(device->log().join('\n')));
            QFile file(knownHosts);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().startsWith(QStringLiteral("[127.0.0.1]:%1 ").arg(m_sshd.port()).toLatin1()));
            device->close();
        } else {
            // No empty answer and no second question: the login ends at once.
            QVERIFY(finished.wait(20000));
            QCOMPARE(finished.first().first().toBool(), false);
            QCOMPARE(connectedSpy.count(), 0);
            QVERIFY(device->log().join('\n').contains("Connection abandoned."));
        }
        QCOMPARE(askpass.questions.size(), 1);
        QVERIFY(askpass.questions.first().contains("The authenticity of host '[127.0.0.1]:"));
    }

    void missingServerProgram()
    {
        AskpassResponder askpass;
        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo(m_sshd.host(), m_sshd.port(), m_sshd.user(), QStringLiteral("no-such-sci"), false,
                          askpass.name());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(device->errorString(), QString("plink quit with error code 127"));
        QVERIFY(device->log().join('\n').contains("command not found"));
    }

    // plink's own command line.
    void plinkCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("message");
        QTest::newRow("help") << QStringList{"--help"} << true << "-fips";
        QTest::newRow("unknown option") << QStringList{"-x", "host"} << false << "plink: unknown option \"-x\"";
        QTest::newRow("bad port") << QStringList{"-P", "99999", "host"} << false << "not a port number";
        QTest::newRow("no host") << QStringList{"-v"} << false << "no host given";
        QTest::newRow("busy socks port") << QStringList{"-D", "<busy>", "-N"} << false << "Address already in use";
        QTest::newRow("refused") << QStringList{"-P", "<closed>", "-N"} << false << "Connection refused";
    }

    void plinkCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, success);
        QFETCH(QString, message);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
        if (arguments.contains("<busy>") || arguments.contains("<closed>")) {
            arguments.replaceInStrings("<busy>", QString::number(busy.serverPort()));
            arguments.replaceInStrings("<closed>", QString::number(SshdFixture::freePort()));
            if (!arguments.contains("-P"))
                arguments << "-P" << QString::number(m_sshd.port());
            arguments << "-l" << m_sshd.user() << m_sshd.host();
        }
        QProcess process;
        process.start(plink(), arguments);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode() == 0, success);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestSshLink)
#include "tst_sshlink.moc"
