#include "connections/linkfailure.h"
#include "link/jsonrpchandler.h"
#include "link/sshdevice.h"
#include "support/fakeplink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {

const char Problem[] = "There was a problem with the connection.<br><br>";

QString contactMessage(const QString &user)
{
    return QStringLiteral("Unable to contact the server. Check that the server is properly installed "
                          "and that the SCI is accessible to the user \"%1\".")
        .arg(user);
}

QString authMessage(const QString &user)
{
    return QStringLiteral("Unable to authenticate the user \"%1\".").arg(user);
}

QString hostMessage(const QString &host)
{
    return QStringLiteral("The host \"%1\" was not recognized. Make sure the hostname is correct.").arg(host);
}

QString downMessage(const QString &host)
{
    return QStringLiteral("Unable to connect to the host \"%1\". The host may be down.").arg(host);
}

} // namespace

class TestLinkFailure : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
        QVERIFY(plink.isValid());
    }

    void cleanup()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox *>(widget))
                delete widget;
        }
    }

    void failedLink_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QString>("message");
        const QString user = QStringLiteral("alice");
        const QString host = QStringLiteral("server.example");
        const QString plainError = QStringLiteral("plink quit with error code 1");

        QTest::newRow("command not found") << QByteArray("Access granted\nbash: line 1: nuvek2_sci: command not found\n")
                                           << contactMessage(user);
        QTest::newRow("not found") << QByteArray("sh: 1: nuvek2_sci: not found\n") << contactMessage(user);
        QTest::newRow("shared libraries")
            << QByteArray("nuvek2_sci: error while loading shared libraries: libQt5Core.so.5\n")
            << contactMessage(user);
        QTest::newRow("no such file") << QByteArray("sh: 1: /opt/sci: No such file or directory\n")
                                      << contactMessage(user);
        QTest::newRow("timeout and not found: earlier case wins")
            << QByteArray("Connection timed out\nsh: nuvek2_sci: not found\n") << contactMessage(user);
        QTest::newRow("too many failures")
            << QByteArray("Received disconnect from 10.0.0.1 port 22:2: Too many authentication failures\n")
            << authMessage(user);
        QTest::newRow("no more methods") << QByteArray("No more authentication methods to try\n")
                                         << authMessage(user);
        QTest::newRow("host does not exist") << QByteArray("FATAL ERROR: Host does not exist\n")
                                             << hostMessage(host);
        QTest::newRow("no address") << QByteArray("getaddrinfo: no address associated with name\n")
                                    << hostMessage(host);
        QTest::newRow("could not resolve")
            << QByteArray("ssh: Could not resolve hostname server.example: Name or service not known\n")
            << hostMessage(host);
        QTest::newRow("connection timed out")
            << QByteArray("ssh: connect to host 10.0.0.1 port 22: Connection timed out\n") << downMessage(host);
        QTest::newRow("attempt timed out") << QByteArray("Attempt to connect timed out\n") << downMessage(host);
        QTest::newRow("plink option") << QByteArray("plink: unknown option \"-fips\"\n")
                                      << QStringLiteral("The program \"plink\" failed to start. The Nuvek install "
                                                        "may be corrupt.");
        QTest::newRow("ssh option") << QByteArray("ssh: illegal option -- G\n")
                                    << QStringLiteral("The program \"ssh\" failed to start. Make sure a version of "
                                                      "OpenSSH is installed.");
        // OpenSSH's verbose lines name the known-hosts files it does not find; that is
        // no missing server program.
        QTest::newRow("client's verbose lines")
            << QByteArray("debug1: load_hostkeys: fopen /home/alice/.ssh/known_hosts2: No such file or directory\n"
                          "debug1: identity file not found\n"
                          "No more authentication methods to try\n")
            << authMessage(user);
        QTest::newRow("only verbose lines")
            << QByteArray("debug1: load_hostkeys: fopen /etc/ssh/ssh_known_hosts: No such file or directory\n")
            << plainError;
        QTest::newRow("patterns are case-sensitive") << QByteArray("COMMAND NOT FOUND\nconnection TIMED OUT\n")
                                                     << plainError;
        QTest::newRow("nothing known") << QByteArray("Connection refused\n") << plainError;
        QTest::newRow("empty log") << QByteArray() << plainError;
    }

    void failedLink()
    {
        QFETCH(QByteArray, log);
        QFETCH(QString, message);
        plink.setRun(log, 1);
        QVERIFY(plink.isValid());

        SshDevice device;
        auto *client = new JsonRpcHandler(&device, &device);
        QVERIFY(runLink(device, false));

        QPointer<QMessageBox> box = reportLinkFailure(&device, client);
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->text(), QLatin1String(Problem) + message);
        // The whole log goes into the details.
        QCOMPARE(box->detailedText(), device.log().join('\n'));
        for (const QByteArray &line : log.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(box->detailedText().contains(QString::fromLatin1(line)), line.constData());
        }
    }

    // A user-name prompt the user cancelled: no reason is known, Qt's own text stands.
    void cancelledWithoutReason()
    {
        QVERIFY(plink.isValid());
        SshDevice device;
        // No user name: the askpass helper asks for one, and gives up.
        QVERIFY(runLink(device, false, QString()));
        QPointer<QMessageBox> box = reportLinkFailure(&device, nullptr);
        QVERIFY(box);
        QCOMPARE(box->text(), QLatin1String(Problem) + device.errorString());
        QVERIFY(!device.errorString().isEmpty());
    }

    void cleanEnd()
    {
        plink.setRun("Access granted\n", 0);
        SshDevice device;
        auto *client = new JsonRpcHandler(&device, &device);
        QVERIFY(runLink(device, true));
        QVERIFY(!reportLinkFailure(&device, client));
    }

    // The link itself ended cleanly, but the server program's stream was broken.
    void cleanEndAfterBrokenStream()
    {
        plink.setRun("Access granted\n", 0, "---- BEGIN Nuvek NetString ----\nnot a netstring,", 2);
        SshDevice device;
        auto *client = new JsonRpcHandler(&device, &device);
        QVERIFY(runLink(device, true));
        QVERIFY(!client->isOk());
        QPointer<QMessageBox> box = reportLinkFailure(&device, client);
        QVERIFY(box);
        QVERIFY(!client->errorString().isEmpty());
        QVERIFY(box->text().startsWith(QLatin1String(Problem)));
        QVERIFY(box->text().endsWith(client->errorString().toHtmlEscaped().replace("&quot;", "\"")));
        QVERIFY(box->detailedText().isEmpty());
    }

private:
    // Runs the fake client once for alice@server.example and waits for the end of the link.
    bool runLink(SshDevice &device, bool expectedStatus, const QString &user = QStringLiteral("alice"))
    {
        QSignalSpy finished(&device, &SshDevice::finished);
        device.connectTo(QStringLiteral("server.example"), 22, user, QStringLiteral("nuvek2_sci"), false,
                         QStringLiteral("/nonexistent/askpass-socket"));
        return finished.wait(10000) && finished.first().first().toBool() == expectedStatus;
    }

    FakePlink plink;
};

QTEST_MAIN(TestLinkFailure)
#include "tst_linkfailure.moc"
