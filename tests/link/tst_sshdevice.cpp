#include "support/sshdfixture.h"
#include "support/testsupport.h"
#include "link/boundedlog.h"
#include "link/sshdevice.h"

#include <QFile>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Stands in for plink: records its arguments and environment, prints the lines
// of FAKE_STDERR on standard error (one by one with a short pause when
// FAKE_SLOW is set), echoes its input, and tells how it ended.
const char FakePlink[] = R"(#!/bin/sh
dir="$FAKE_DIR"
for a in "$@"; do printf '%s\n' "$a"; done > "$dir/args"
{ echo "DISPLAY=${DISPLAY-<unset>}"; echo "SSH_ASKPASS=${SSH_ASKPASS-<unset>}";
  echo "OSTRANE_ASKPASS_SERVER=${OSTRANE_ASKPASS_SERVER-<unset>}"; } > "$dir/env"
trap 'kill $child 2>/dev/null; echo terminated > "$dir/end"; exit 143' TERM
[ -n "$FAKE_CRASH" ] && kill -SEGV $$
printf '%b' "$FAKE_STDERR" >&2
[ -n "$FAKE_STDERR_FILE" ] && cat "$FAKE_STDERR_FILE" >&2
[ -n "$FAKE_EXIT" ] && exit "$FAKE_EXIT"
# Echo the input; the shell must stay able to take the TERM trap, so read in the background.
exec 3<&0
cat <&3 &
child=$!
wait $child
echo eof > "$dir/end"
exit 0
)";

// Stands in for askpass: records its question and answers FAKE_USER.
const char FakeAskpass[] = R"(#!/bin/sh
printf '%s' "$1" > "$FAKE_DIR/question"
printf '%s' "$OSTRANE_ASKPASS_SERVER" > "$FAKE_DIR/askpass-server"
[ -n "$FAKE_ASKPASS_EXIT" ] && exit "$FAKE_ASKPASS_EXIT"
printf '%s' "$FAKE_USER"
)";

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

} // namespace

class TestSshDevice : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_savedBinDir;
    quint16 m_freePort = 0;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void writeScript(const QString &name, const char *text)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    }

    // A device whose tunnel probe only looks at one port known to be free.
    std::unique_ptr<SshDevice> makeDevice()
    {
        auto device = std::make_unique<SshDevice>();
        device->setTunnelPortRange(m_freePort, m_freePort + 1);
        return device;
    }

    QStringList arguments() const
    {
        return readText(path("args")).split('\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        writeScript("plink", FakePlink);
        writeScript("askpass", FakeAskpass);
        m_savedBinDir = qgetenv("NUVEK_BIN_DIR");
        qputenv("NUVEK_BIN_DIR", QFile::encodeName(m_dir.path()));
        qputenv("FAKE_DIR", QFile::encodeName(m_dir.path()));
        m_freePort = SshdFixture::freePort();
        QVERIFY(m_freePort != 0);
    }

    void cleanupTestCase() { qputenv("NUVEK_BIN_DIR", m_savedBinDir); }

    void init()
    {
        for (const char *name : {"args", "env", "end", "question", "askpass-server"})
            QFile::remove(path(name));
        for (const char *name : {"FAKE_STDERR", "FAKE_STDERR_FILE", "FAKE_EXIT", "FAKE_CRASH", "FAKE_USER", "FAKE_ASKPASS_EXIT",
                                 "SSH_ASKPASS", "OSTRANE_ASKPASS_SERVER"})
            qunsetenv(name);
        qputenv("FAKE_EXIT", "0");
    }

    void helperLookup()
    {
        // Beside the executable first (nothing there for a test), then NUVEK_BIN_DIR.
        QCOMPARE(findHelperProgram("plink"), path("plink"));
        QCOMPARE(findHelperProgram("no-such-helper-program"), QString("no-such-helper-program"));
    }

    void clientArguments_data()
    {
        QTest::addColumn<quint16>("port");
        QTest::addColumn<bool>("fips");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("tunnel");
        QTest::addColumn<QStringList>("expected");
        const QString T = "<tunnel>";
        QTest::newRow("port, command")
            << quint16(2222) << false << "nuvek2_sci --stdio" << true
            << QStringList{"-v", "-P", "2222", "-G", "-F", "-D", T, "-l", "alice", "srv1", "nuvek2_sci --stdio"};
        QTest::newRow("default port") << quint16(0) << false << "sci" << true
                                       << QStringList{"-v", "-G", "-F", "-D", T, "-l", "alice", "srv1", "sci"};
        QTest::newRow("fips") << quint16(22) << true << "sci" << true
                              << QStringList{"-v", "-P", "22", "-2", "-fips", "-G", "-F", "-D", T,
                                             "-l", "alice", "srv1", "sci"};
        QTest::newRow("tunnel only") << quint16(0) << false << "" << true
                                     << QStringList{"-v", "-G", "-F", "-D", T, "-N", "-l", "alice", "srv1"};
        QTest::newRow("no free port") << quint16(0) << false << "sci" << false
                                      << QStringList{"-v", "-G", "-F", "-l", "alice", "srv1", "sci"};
    }

    void clientArguments()
    {
        QFETCH(quint16, port);
        QFETCH(bool, fips);
        QFETCH(QString, command);
        QFETCH(bool, tunnel);
        QFETCH(QStringList, expected);

        QTcpServer busy;
        auto device = makeDevice();
        if (!tunnel) {
            QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
            device->setTunnelPortRange(busy.serverPort(), busy.serverPort() + 1);
        }
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", port, "alice", command, fips, "/tmp/askpass-x");
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), true);

        const QString tunnelPort = QString::number(m_freePort);
        expected.replaceInStrings("<tunnel>", tunnelPort);
        QCOMPARE(arguments(), expected);
        QCOMPARE(device->tunnelPort(), tunnel ? m_freePort : quint16(0));
        QCOMPARE(device->sshPort(), port);
        QCOMPARE(device->log().contains("Failed to find an open port for tunneling"), !tunnel);
    }

    void environment_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("askpass");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing set") << QByteArray() << QByteArray()
                                     << QString("DISPLAY=:0\nSSH_ASKPASS=<askpass>\nOSTRANE_ASKPASS_SERVER=/tmp/askpass-x\n");
        QTest::newRow("own askpass") << QByteArray(":5") << QByteArray("/usr/bin/other")
                                     << QString("DISPLAY=:5\nSSH_ASKPASS=/usr/bin/other\n"
                                                "OSTRANE_ASKPASS_SERVER=stale\n");
    }

    void environment()
    {
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, askpass);
        QFETCH(QString, expected);
        const QByteArray savedDisplay = qgetenv("DISPLAY");
        const bool hadDisplay = qEnvironmentVariableIsSet("DISPLAY");
        display.isNull() ? qunsetenv("DISPLAY") : qputenv("DISPLAY", display);
        if (!askpass.isNull())
            qputenv("SSH_ASKPASS", askpass);
        qputenv("OSTRANE_ASKPASS_SERVER", "stale");

        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, "alice", "sci", false, "/tmp/askpass-x");
        QVERIFY(finished.wait(5000));
        hadDisplay ? qputenv("DISPLAY", savedDisplay) : qunsetenv("DISPLAY");
        QCOMPARE(readText(path("env")), expected.replace("<askpass>", path("askpass")));
    }

    void userAskedFirst_data()
    {
        QTest::addColumn<QByteArray>("askpassExit");
        QTest::addColumn<bool>("clientStarted");
        QTest::newRow("answered") << QByteArray() << true;
        QTest::newRow("cancelled") << QByteArray("1") << false;
    }

    void userAskedFirst()
    {
        QFETCH(QByteArray, askpassExit);
        QFETCH(bool, clientStarted);
        qputenv("FAKE_USER", "alice");
        if (!askpassExit.isEmpty())
            qputenv("FAKE_ASKPASS_EXIT", askpassExit);

        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, QString(), "sci", false, "/tmp/askpass-x");
        QVERIFY(finished.wait(5000));
        QCOMPARE(readText(path("question")), QString("The user for \"srv1\":"));
        QCOMPARE(readText(path("askpass-server")), QString("/tmp/askpass-x"));
        QCOMPARE(finished.first().first().toBool(), clientStarted);
        QCOMPARE(QFile::exists(path("args")), clientStarted);
        if (clientStarted) {
            // The name exactly as printed, without a line end.
            QCOMPARE(arguments().mid(arguments().indexOf("-l"), 2), (QStringList{"-l", "alice"}));
            QCOMPARE(device->user(), QString("alice"));
        } else {
            QCOMPARE(device->errorString(), QString("Unknown error"));
            QVERIFY(!device->status());
        }
    }

    // Without a helper to ask, the attempt ends instead of waiting for ever.
    void userAskedWithoutHelper()
    {
        QFile askpass(path("askpass"));
        const QFile::Permissions permissions = askpass.permissions();
        QVERIFY(askpass.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, QString(), "sci", false, "/tmp/askpass-x");
        const bool ended = finished.wait(5000);
        askpass.setPermissions(permissions);
        QVERIFY(ended);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(device->errorString(), QString("askpass failed to start"));
        QVERIFY(!QFile::exists(path("args")));
    }

    void findFreePort()
    {
        QTcpServer a, b;
        QVERIFY(a.listen(QHostAddress::LocalHost, 0));
        QVERIFY(b.listen(QHostAddress::LocalHost, 0));
        // Both busy: the end of the range means failure.
        const quint16 lo = qMin(a.serverPort(), b.serverPort()), hi = qMax(a.serverPort(), b.serverPort());
        QCOMPARE(SshDevice::findFreePort(lo, lo + 1), quint16(lo + 1));
        QCOMPARE(SshDevice::findFreePort(m_freePort, m_freePort + 1), m_freePort);
        QTcpServer c;
        if (c.listen(QHostAddress::LocalHost, quint16(lo + 1)) && lo + 1 < hi) {
            // lo and lo+1 busy: the next one up is taken as free unless it is hi.
            const quint16 found = SshDevice::findFreePort(lo, lo + 3);
            QVERIFY(found >= lo + 2);
        }
        QCOMPARE(SshDevice::findFreePort(5, 5), quint16(5));
    }

    void boundedLog_data()
    {
        QTest::addColumn<QStringList>("initial");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<QStringList>("appended");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("fits") << QStringList() << 10 << QStringList{"abc", "defg"} << QStringList{"abc", "defg"};
        QTest::newRow("exactly full") << QStringList() << 7 << QStringList{"abc", "defg"}
                                      << QStringList{"abc", "defg"};
        QTest::newRow("drops oldest") << QStringList() << 6 << QStringList{"ab", "cd", "efg"}
                                      << QStringList{"cd", "efg"};
        QTest::newRow("counts existing entries") << QStringList{"12345"} << 8 << QStringList{"abcd"}
                                                 << QStringList{"abcd"};
        QTest::newRow("oversized entry kept alone") << QStringList{"ab"} << 4 << QStringList{"abcdefgh"}
                                                    << QStringList{"abcdefgh"};
        QTest::newRow("after an oversized entry") << QStringList() << 4 << QStringList{"abcdefgh", "x"}
                                                  << QStringList{"x"};
        QTest::newRow("negative maximum") << QStringList() << -5 << QStringList{"a", "b"} << QStringList{"b"};
        QTest::newRow("empty entries") << QStringList() << 0 << QStringList{"", ""} << QStringList{"", ""};
    }

    void boundedLog()
    {
        QFETCH(QStringList, initial);
        QFETCH(int, maximum);
        QFETCH(QStringList, appended);
        QFETCH(QStringList, expected);
        QStringList list = initial;
        BoundedLog log(&list, maximum);
        QCOMPARE(log.maximum(), qMax(maximum, 0));
        for (const QString &text : appended)
            log.append(text);
        QCOMPARE(list, expected);
        qint64 total = 0;
        for (const QString &entry : list)
            total += entry.size();
        QCOMPARE(log.total(), total);
        log.clear();
        QVERIFY(list.isEmpty());
        QCOMPARE(log.total(), qint64(0));
    }

    void deviceLogIsBounded()
    {
        QFile lines(path("lines"));
        QVERIFY(lines.open(QIODevice::WriteOnly));
        for (int i = 0; i < 3000; ++i)
            lines.write("debug1: a line of diagnostics that is sixty-odd characters long\n");
        lines.write("the last line\n");
        lines.close();
        qputenv("FAKE_STDERR_FILE", QFile::encodeName(lines.fileName()));
        qunsetenv("FAKE_EXIT");
        auto device = makeDevice();
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        QTRY_VERIFY_WITH_TIMEOUT(device->log().value(device->log().size() - 1) == QLatin1String("the last line"), 10000);
        int total = 0;
        for (const QString &entry : device->log())
            total += entry.size();
        QVERIFY(total <= SshDevice::LogLimit);
        QVERIFY(total > SshDevice::LogLimit - 100);
        QCOMPARE(device->log().last(), QString("the last line"));
    }

    void lookupFinishesBeforeConnected()
    {
        qunsetenv("FAKE_EXIT"); // a client that ends drops its pending lookup
        qputenv("FAKE_STDERR", "Looking up host\\nConnecting to 127.0.0.1 port 22\\nAccess granted\\nafter\\n");
        auto device = makeDevice();
        QString hostAtConnected;
        QStringList logAtConnected;
        connect(device.get(), &SshDevice::connected, this, [&] {
            hostAtConnected = device->realHost();
            logAtConnected = device->log();
        });
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        QCOMPARE(device->realHost(), QString("srv1"));
        QVERIFY(connectedSpy.wait(5000));
        QCOMPARE(connectedSpy.count(), 1);
        QCOMPARE(hostAtConnected, QString("localhost"));
        QCOMPARE(logAtConnected, (QStringList{"Looking up host", "Connecting to 127.0.0.1 port 22"}));
        QTRY_COMPARE(device->log(), (QStringList{"Looking up host", "Connecting to 127.0.0.1 port 22",
                                                 "Access granted", "after"}));
        QCOMPARE(device->host(), QString("srv1"));
    }

    void failedLookupKeepsHost()
    {
        // A name that cannot exist fails without asking any name server.
        qunsetenv("FAKE_EXIT");
        qputenv("FAKE_STDERR", "Connecting to bad name port 22\\nAccess granted\\n");
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        QVERIFY(connectedSpy.wait(10000));
        QCOMPARE(device->realHost(), QString("srv1"));
    }

    void closeRules_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("authenticated");
        QTest::addColumn<QString>("end");
        QTest::newRow("authenticated with a command: end of input") << "sci" << true << "eof";
        QTest::newRow("before authentication: terminated") << "sci" << false << "terminated";
        QTest::newRow("tunnel only: terminated") << "" << true << "terminated";
    }

    void closeRules()
    {
        QFETCH(QString, command);
        QFETCH(bool, authenticated);
        QFETCH(QString, end);
        qunsetenv("FAKE_EXIT");
        qputenv("FAKE_STDERR", authenticated ? "Access granted\\n" : "Connecting\\n");
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, "alice", command, false, "x");
        if (authenticated) {
            QVERIFY(connectedSpy.wait(5000));
        } else {
            QTRY_VERIFY(device->log().contains("Connecting"));
        }
        if (!command.isEmpty()) {
            // The stream works both ways meanwhile.
            QCOMPARE(device->write("ping\n"), qint64(5));
            QTRY_VERIFY(device->canReadLine());
            QCOMPARE(device->readLine(), QByteArray("ping\n"));
        }
        device->close();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(!device->isOpen());
        QTRY_COMPARE(readText(path("end")).trimmed(), end);
        // Closed twice: nothing more.
        device->close();
        QCOMPARE(finished.count(), 1);
    }

    void destructionIsSilent()
    {
        qunsetenv("FAKE_EXIT");
        qputenv("FAKE_STDERR", "Access granted\\n");
        auto device = makeDevice();
        QSignalSpy connectedSpy(device.get(), &SshDevice::connected);
        bool finishedSeen = false;
        connect(device.get(), &SshDevice::finished, this, [&] { finishedSeen = true; });
        device->connectTo("srv1", 0, "alice", QString(), false, "x");
        QVERIFY(connectedSpy.wait(5000));
        device.reset();
        QTRY_COMPARE(readText(path("end")).trimmed(), QString("terminated"));
        QVERIFY(!finishedSeen);
    }

    void endOfClient_data()
    {
        QTest::addColumn<QByteArray>("exitCode");
        QTest::addColumn<bool>("crash");
        QTest::addColumn<bool>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("clean end") << QByteArray("0") << false << true << QString("Unknown error");
        QTest::newRow("error code") << QByteArray("1") << false << false << QString("plink quit with error code 1");
        QTest::newRow("code 255") << QByteArray("255") << false << false
                                  << QString("plink quit with error code 255");
        QTest::newRow("crash") << QByteArray() << true << false << QString("plink crashed");
    }

    void endOfClient()
    {
        QFETCH(QByteArray, exitCode);
        QFETCH(bool, crash);
        QFETCH(bool, status);
        QFETCH(QString, error);
        qputenv("FAKE_EXIT", exitCode);
        if (crash)
            qputenv("FAKE_CRASH", "1");
        qputenv("FAKE_STDERR", "first\\nlast words without a line end");
        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), status);
        QCOMPARE(device->status(), status);
        QCOMPARE(device->errorString(), error);
        if (!crash)
            QCOMPARE(device->log(), (QStringList{"first", "last words without a line end"}));
        // The log outlives the link; closing the ended link says nothing more.
        device->close();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!device->log().isEmpty() || crash);
    }

    void clientMissing()
    {
        QTemporaryDir empty;
        qputenv("NUVEK_BIN_DIR", QFile::encodeName(empty.path()));
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(empty.path()));
        auto device = makeDevice();
        QSignalSpy finished(device.get(), &SshDevice::finished);
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        qputenv("PATH", savedPath);
        qputenv("NUVEK_BIN_DIR", QFile::encodeName(m_dir.path()));
        QVERIFY(finished.count() == 1 || finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(device->errorString(), QString("plink failed to start"));
    }

    void connectWhileOpenIsIgnored()
    {
        qunsetenv("FAKE_EXIT");
        auto device = makeDevice();
        device->connectTo("srv1", 0, "alice", "sci", false, "x");
        QTRY_VERIFY(QFile::exists(path("args")));
        device->connectTo("other", 0, "bob", "sci", false, "x");
        QCOMPARE(device->host(), QString("srv1"));
        QCOMPARE(device->user(), QString("alice"));
    }
};

QTEST_GUILESS_MAIN(TestSshDevice)
#include "tst_sshdevice.moc"
