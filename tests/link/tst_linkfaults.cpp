#include "link/sshdevice.h"
#include "support/childprocesses.h"
#include "support/fakeplink.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const int Flood = 1 << 20;

// An "ssh" first on PATH: it writes down its arguments, and with FLOOD set writes a megabyte
// without a line end to standard error and stays.
bool writeFakeSsh(const QTemporaryDir &dir)
{
    QFile script(dir.filePath(QStringLiteral("ssh")));
    return script.open(QIODevice::WriteOnly)
        && script.write("#!/bin/sh\n"
                        "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n"
                        "[ -n \"$FLOOD\" ] || exit 255\n"
                        "echo $$ > \"$(dirname \"$0\")/pid\"\n"
                        "head -c " + QByteArray::number(Flood) + " /dev/zero | tr '\\0' x >&2\n"
                        "exec sleep 60\n") > 0
        && script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment fakeSshEnvironment(const QTemporaryDir &dir, bool flood)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), dir.path() + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("NUVEK_KNOWN_HOSTS"), dir.filePath(QStringLiteral("known_hosts")));
    if (flood)
        environment.insert(QStringLiteral("FLOOD"), QStringLiteral("1"));
    return environment;
}

} // namespace

class TestLinkFaults : public QObject
{
    Q_OBJECT

private slots:
    void hostLikeAnOption();
    void endlessLine_data();
    void endlessLine();
};

// A host beginning with "-" reaches ssh as a host, through the client and plink.
void TestLinkFaults::hostLikeAnOption()
{
    const QString host = QStringLiteral("-oProxyCommand=x");
    {
        FakePlink plink;
        plink.setRun(QByteArray(), 1);
        QVERIFY(plink.isValid());
        SshDevice device;
        QSignalSpy finished(&device, &SshDevice::finished);
        device.connectTo(host, 22, QStringLiteral("alice"), QStringLiteral("nuvek2_sci"), false,
                         QStringLiteral("/nonexistent/askpass-socket"));
        QVERIFY(finished.wait(10000));
        const QStringList arguments = plink.lastArguments();
        QVERIFY2(arguments.indexOf(QStringLiteral("--")) == arguments.indexOf(host) - 1,
                 qPrintable(arguments.join(' ')));
    }
    QTemporaryDir dir;
    QVERIFY(writeFakeSsh(dir));
    QProcess plink;
    plink.setProcessEnvironment(fakeSshEnvironment(dir, false));
    plink.start(nuvekBinDir() + QStringLiteral("/plink"),
                {QStringLiteral("-l"), QStringLiteral("alice"), QStringLiteral("--"), host, QStringLiteral("cmd")});
    QVERIFY(plink.waitForFinished(10000));
    QVERIFY2(!plink.readAllStandardError().contains("unknown option"), "plink took the host for an option");
    QFile args(dir.filePath(QStringLiteral("args")));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QVERIFY(args.readAll().endsWith("--\n" + host.toLatin1() + "\ncmd\n"));
}

// Standard error without line ends is passed on while it comes, not gathered without end.
void TestLinkFaults::endlessLine_data()
{
    QTest::addColumn<bool>("client");
    QTest::newRow("plink") << false;
    QTest::newRow("client") << true;
}

void TestLinkFaults::endlessLine()
{
    QFETCH(bool, client);
    QTemporaryDir dir;
    if (client) {
        FakePlink plink;
        plink.setRun(QByteArray(Flood, 'x'), 0, QByteArray(), 60);
        QVERIFY(plink.isValid());
        SshDevice device;
        device.connectTo(QStringLiteral("server.example"), 22, QStringLiteral("alice"), QStringLiteral("nuvek2_sci"),
                         false, QStringLiteral("/nonexistent/askpass-socket"));
        QTRY_VERIFY_WITH_TIMEOUT(device.log().join(QString()).size() >= SshDevice::LogLimit / 2, 10000);
        QVERIFY(device.log().join(QString()).size() <= SshDevice::LogLimit);
        device.close();
        QTRY_VERIFY(childProcessIds("plink").isEmpty());
        return;
    }
    QVERIFY(writeFakeSsh(dir));
    QProcess plink;
    plink.setProcessEnvironment(fakeSshEnvironment(dir, true));
    plink.start(nuvekBinDir() + QStringLiteral("/plink"), {QStringLiteral("server.example"), QStringLiteral("cmd")});
    qint64 passedOn = 0;
    QTRY_VERIFY_WITH_TIMEOUT((passedOn += plink.readAllStandardError().size()) >= Flood / 2, 10000);
    plink.terminate();
    QVERIFY(plink.waitForFinished(10000));
    // ssh ended with plink.
    QFile pid(dir.filePath(QStringLiteral("pid")));
    QVERIFY(pid.open(QIODevice::ReadOnly));
    const QString proc = QStringLiteral("/proc/") + QString::fromLatin1(pid.readAll().trimmed());
    QTRY_VERIFY(!QFile::exists(proc));
}

QTEST_GUILESS_MAIN(TestLinkFaults)
#include "tst_linkfaults.moc"
