// scripts/demo (make demo) against the real sshd, with a stand-in for the client that logs
// in the way the client would and asks the server program for its version.

#include "connections/connection.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>

namespace {

// The stand-in client: reads its profile like the client does, logs in with plink (no
// questions may come: askpass fails) and asks for the version.
const char FakeClient[] = R"SH(#!/bin/bash
profile="$XDG_DATA_HOME/Ostrane Rodorivezozoru/Nuvek/Connections/{8b41829f-6b3c-4b56-9d2d-e27f009b31aa}.kcf2"
field() { sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" "$profile"; }
printf '63:{"id":"1","jsonrpc":"2.0","method":"Nuvek.version","params":{}},' \
  | SSH_ASKPASS=/bin/false timeout 30 "$(dirname "$0")/plink" -P "$(field Port)" -G -F \
      -l "$(field User)" "$(field Host)" "$(field Sci)" > "$DEMO_TEST_OUT/reply" 2> "$DEMO_TEST_OUT/log"
)SH";

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

} // namespace

class TestDemoScript : public QObject
{
    Q_OBJECT

private slots:
    void firstRunAddsProfileAndLogsInWithoutQuestions()
    {
        // As root the demo would log in as root, whose shell start-up is not ours to rely on:
        // it runs as the test account instead (the unprivileged case).
        SshdFixture account;
        QString why;
        if (!account.isAvailable(&why))
            QSKIP(qPrintable(why));
        const QString user = account.user(), home = QString::fromLocal8Bit(getpwnam("nuvektest")->pw_dir);
        // sshd's StrictModes refuses keys below a folder others may write to, such as /tmp
        // (where a checkout may well be): everything stays in the account's home.
        QVERIFY(QDir().mkpath(home + "/.cache"));
        QTemporaryDir dir(home + "/.cache/nuvek-demo-test-XXXXXX");
        for (const char *sub : {"bin", "data", "run", "out"})
            QVERIFY(QDir(dir.path()).mkpath(sub));
        for (const QString program : {"plink", "askpass", "nuvek2_sci"})
            QVERIFY(QFile::link(QDir(nuvekBinDir()).absoluteFilePath(program), dir.filePath("bin/" + program)));
        QFile client(dir.filePath("bin/nuvek"));
        QVERIFY(client.open(QIODevice::WriteOnly) && client.write(FakeClient) > 0);
        client.close();
        QVERIFY(client.setPermissions(client.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
        QCOMPARE(QProcess::execute("chown", {"-R", user, dir.path()}), 0);

        QProcessEnvironment env;
        for (const auto &var : {qMakePair(QString("HOME"), home), qMakePair(QString("USER"), user),
                                qMakePair(QString("LOGNAME"), user), qMakePair(QString("PATH"), QString("/usr/local/bin:/usr/bin:/bin")),
                                qMakePair(QString("QT_QPA_PLATFORM"), QString("offscreen")),
                                qMakePair(QString("XDG_DATA_HOME"), dir.filePath("data")),
                                qMakePair(QString("XDG_RUNTIME_DIR"), dir.filePath("run")),
                                qMakePair(QString("DEMO_TEST_OUT"), dir.filePath("out"))})
            env.insert(var.first, var.second);
        QProcess demo;
        demo.setProcessEnvironment(env);
        demo.setProcessChannelMode(QProcess::MergedChannels);
        demo.start("setpriv", {"--reuid", user, "--regid", user, "--init-groups", NUVEK_SOURCE_DIR "/scripts/demo", dir.path()});
        const bool ended = demo.waitForFinished(60000);
        stopProcess(demo);
        const QString output = QString::fromLocal8Bit(demo.readAll());
        QVERIFY2(ended && demo.exitCode() == 0, qPrintable(output));

        const QString data = dir.filePath("data/Ostrane Rodorivezozoru/Nuvek/");
        const Connection profile = loadConnection(data + "Connections/{8b41829f-6b3c-4b56-9d2d-e27f009b31aa}.kcf2");
        QVERIFY2(profile.isValid(), "the profile does not pass the schema");
        QCOMPARE(QStringList({profile.name(), profile.host(), profile.user(), profile.sci()}),
                 QStringList({"This computer", "127.0.0.1", user, dir.filePath("bin/nuvek2_sci")}));
        const quint16 port = readFile(data + "demo/port").trimmed().toUShort();
        QVERIFY(port > 0);
        QCOMPARE(profile.port(), port);
        const QString log = readFile(dir.filePath("out/log"));
        QVERIFY2(log.contains("Access granted") && !log.contains("Connection abandoned"), qPrintable(log));
        QVERIFY2(readFile(dir.filePath("out/reply")).startsWith("---- BEGIN Nuvek NetString ----"), qPrintable(output));
        QVERIFY2(readFile(dir.filePath("out/reply")).contains("\"result\""), qPrintable(output));
        // The client has ended: so has the server.
        QVERIFY(output.contains("server stopped"));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!socket.waitForConnected(2000));
    }
};

QTEST_MAIN(TestDemoScript)
#include "tst_demoscript.moc"
