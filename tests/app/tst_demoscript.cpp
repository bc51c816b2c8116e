// scripts/demo (make demo) against the real sshd, with a stand-in for the client
// that logs in the way the client would and asks the server program for its version.

#include "connections/connection.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

const char ProfileFile[] = "Connections/{8b41829f-6b3c-4b56-9d2d-e27f009b31aa}.kcf2";

// The stand-in client: reads its profile like the client does, logs in with
// plink (no questions may come: askpass fails) and asks for the version.
const char FakeClient[] = R"SH(#!/bin/bash
profile="$XDG_DATA_HOME/Ostrane Rodorivezozoru/Nuvek/Connections/{8b41829f-6b3c-4b56-9d2d-e27f009b31aa}.kcf2"
field() { sed -n "s:.*<$1>\(.*\)</$1>.*:\1:p" "$profile"; }
printf '63:{"id":"1","jsonrpc":"2.0","method":"Nuvek.version","params":{}},' \
  | SSH_ASKPASS=/bin/false timeout 30 "$(dirname "$0")/plink" -P "$(field Port)" -G -F \
      -l "$(field User)" "$(field Host)" "$(field Sci)" > "$DEMO_TEST_OUT/reply" 2> "$DEMO_TEST_OUT/log"
)SH";

} // namespace

class TestDemoScript : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstRunAddsProfileAndLogsInWithoutQuestions();

private:
    // Runs the script to its end; returns its exit code (-1 when it did not end).
    int runDemo(QString *output = nullptr);
    QString dataPath(const QString &relative) const;
    QString readOut(const QString &name) const;

    std::unique_ptr<SshdFixture> m_account; // creates the test account when we are root
    QString m_user;
    QString m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    quint16 m_firstPort = 0;
};

void TestDemoScript::initTestCase()
{
    // As root the demo would log in as root, whose shell start-up is not ours to rely on:
    // it runs as the test account instead (the unprivileged case).
    m_account = std::make_unique<SshdFixture>();
    QString why;
    if (!m_account->isAvailable(&why))
        QSKIP(qPrintable(why));
    m_user = m_account->user();
    const passwd *entry = getpwnam(m_user.toLocal8Bit().constData());
    QVERIFY(entry);
    m_home = QString::fromLocal8Bit(entry->pw_dir);

    // sshd's StrictModes refuses keys below a folder others may write to, such as
    // /tmp (where a checkout may well be): keep everything in the account's home.
    const QString base = QDir(m_home).filePath(QStringLiteral(".cache"));
    QVERIFY(QDir().mkpath(base));
    m_dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/nuvek-demo-test-XXXXXX"));
    QVERIFY(m_dir->isValid());
    QDir dir(m_dir->path());
    for (const char *sub : {"bin", "data", "run", "out"})
        QVERIFY(dir.mkpath(QLatin1String(sub)));
    for (const char *program : {"plink", "askpass", "nuvek2_sci"}) {
        QVERIFY(QFile::link(QDir(nuvekBinDir()).absoluteFilePath(QLatin1String(program)),
                            dir.filePath(QStringLiteral("bin/") + QLatin1String(program))));
    }
    QFile client(dir.filePath(QStringLiteral("bin/nuvek")));
    QVERIFY(client.open(QIODevice::WriteOnly));
    client.write(FakeClient);
    client.close();
    QVERIFY(client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                  | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QProcess chown;
    chown.start(QStringLiteral("chown"), {QStringLiteral("-R"), m_user, m_dir->path()});
    QVERIFY(chown.waitForFinished(10000) && chown.exitCode() == 0);
}

int TestDemoScript::runDemo(QString *output)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), m_home);
    env.insert(QStringLiteral("USER"), m_user);
    env.insert(QStringLiteral("LOGNAME"), m_user);
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("DEMO_TEST_OUT"), m_dir->filePath(QStringLiteral("out")));

    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start("setpriv", {"--reuid", m_user, "--regid", m_user, "--init-groups", NUVEK_SOURCE_DIR "/scripts/demo",
                           m_dir->path()});
    if (!demo.waitForFinished(60000)) {
        demo.terminate();
        demo.waitForFinished(5000);
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(demo.readAll());
    return demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1;
}

QString TestDemoScript::dataPath(const QString &relative) const
{
    return m_dir->filePath(QStringLiteral("data/Ostrane Rodorivezozoru/Nuvek/") + relative);
}

QString TestDemoScript::readOut(const QString &name) const
{
    QFile file(m_dir->filePath(QStringLiteral("out/") + name));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

void TestDemoScript::firstRunAddsProfileAndLogsInWithoutQuestions()
{
    QString output;
    QVERIFY2(runDemo(&output) == 0, qPrintable(output));

    const Connection profile = loadConnection(dataPath(QLatin1String(ProfileFile)));
    QVERIFY2(profile.isValid(), "the profile does not pass the schema");
    QCOMPARE(profile.name(), QStringLiteral("This computer"));
    QCOMPARE(profile.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(profile.user(), m_user);
    QCOMPARE(profile.sci(), m_dir->filePath(QStringLiteral("bin/nuvek2_sci")));
    QFile portFile(dataPath(QStringLiteral("demo/port")));
    QVERIFY(portFile.open(QIODevice::ReadOnly));
    m_firstPort = portFile.readAll().trimmed().toUShort();
    QVERIFY(m_firstPort > 0);
    QCOMPARE(profile.port(), m_firstPort);

    const QString log = readOut(QStringLiteral("log"));
    QVERIFY2(log.contains(QLatin1String("Access granted")), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("Connection abandoned")), qPrintable(log));
    QVERIFY2(readOut(QStringLiteral("reply")).startsWith(QLatin1String("---- BEGIN Nuvek NetString ----")),
             qPrintable(readOut(QStringLiteral("reply"))));
    QVERIFY2(readOut(QStringLiteral("reply")).contains(QLatin1String("\"result\"")), qPrintable(output));

    // The client has ended: so has the server.
    QVERIFY(output.contains(QLatin1String("server stopped")));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_firstPort);
    QVERIFY(!socket.waitForConnected(2000));
}

QTEST_GUILESS_MAIN(TestDemoScript)
#include "tst_demoscript.moc"
