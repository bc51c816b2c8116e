// The whole askpass path against a real server: SshDevice runs our plink, which
// runs OpenSSH's ssh, which asks through our askpass, which the "Connecting..."
// dialog answers.

#include "app/username.h"
#include "link/askpasshandler.h"
#include "link/operationstatusdialog.h"
#include "link/sshdevice.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const int LoginTimeout = 20000;

// One connection attempt, put together as the Connections window does it.
struct Attempt
{
    Attempt()
        : device(new SshDevice), dialog(new OperationStatusDialog)
    {
        server = createAskpassServer(device);
        QObject::connect(server, &QLocalServer::newConnection,
                         dialog.get(), &OperationStatusDialog::handleNewAskpassConnections);
        QObject::connect(device, &SshDevice::connected, [this] { ++connectedCount; });
        QObject::connect(device, &SshDevice::finished, [this](bool status) {
            finishedStatus.append(status);
        });
        // A port of our own, so that tests running beside this one don't collide.
        const quint16 port = SshdFixture::freePort();
        device->setTunnelPortRange(port, quint16(port + 1));
    }
    ~Attempt() { delete device; }

    void start(const SshdFixture &sshd, const QString &user)
    {
        device->connectTo(sshd.host(), sshd.port(), user, QString(), false, server->fullServerName());
    }

    int page() const { return dialog->findChild<QStackedWidget *>("StackedWidget")->currentIndex(); }
    QLineEdit *edit(const char *name) const { return dialog->findChild<QLineEdit *>(name); }
    QString instructions() const { return dialog->findChild<QLabel *>("InstructionsLabel")->text(); }
    bool waitForPage(int wanted) const
    {
        return QTest::qWaitFor([&] { return page() == wanted || !finishedStatus.isEmpty(); }, LoginTimeout)
            && page() == wanted;
    }
    void pressContinue() const
    {
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>("ButtonBox")->buttons())
            if (button->text() == QLatin1String("Continue"))
                button->click();
    }
    bool waitForConnected() const
    {
        return QTest::qWaitFor([&] { return connectedCount > 0 || !finishedStatus.isEmpty(); }, LoginTimeout)
            && connectedCount > 0;
    }
    bool waitForFinished() const
    {
        return QTest::qWaitFor([&] { return !finishedStatus.isEmpty(); }, LoginTimeout);
    }
    QString log() const { return device->log().join(QLatin1Char('\n')); }

    SshDevice *device;
    QLocalServer *server = nullptr;
    std::unique_ptr<OperationStatusDialog> dialog;
    int connectedCount = 0;
    QList<bool> finishedStatus;
};

} // namespace

class TestAskpassLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void passwordOnAnswerPage();
    void unknownHostKeyOnHostKeyPage();
    void userNameOnUserPage();
    void noAnswerEndsTheAttempt();

private:
    bool answerPassword(Attempt &attempt);

    std::unique_ptr<SshdFixture> sshd;
};

void TestAskpassLink::initTestCase()
{
    // SshDevice hands its own askpass to plink only when none is set.
    qunsetenv("SSH_ASKPASS");
    qputenv("NUVEK_BIN_DIR", QFile::encodeName(nuvekBinDir()));
    sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!sshd->isAvailable(&why))
        QSKIP(qPrintable(why));
    // Password logins only: every secret goes through the dialog.
    sshd->setPublicKeyAuthentication(false);
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();
}

void TestAskpassLink::cleanupTestCase()
{
    sshd.reset();
}

bool TestAskpassLink::answerPassword(Attempt &attempt)
{
    if (!attempt.waitForPage(OperationStatusDialog::AnswerPage)) {
        qWarning("no password question; log:\n%s", qPrintable(attempt.log()));
        return false;
    }
    const QString expected = QStringLiteral("%1@%2's password: ").arg(sshd->user(), sshd->host());
    if (attempt.instructions() != expected) {
        qWarning("unexpected question: %s", qPrintable(attempt.instructions()));
        return false;
    }
    attempt.edit("AnswerLineEdit")->setText(SshdFixture::password());
    attempt.pressContinue();
    return true;
}

void TestAskpassLink::passwordOnAnswerPage()
{
    Attempt attempt;
    attempt.start(*sshd, sshd->user());
    QVERIFY(answerPassword(attempt));
    QVERIFY2(attempt.waitForConnected(), qPrintable(attempt.log()));
    // The helper has gone: the dialog waits on its status page again.
    QTRY_COMPARE(attempt.page(), int(OperationStatusDialog::StatusPage));
    QVERIFY(attempt.edit("AnswerLineEdit")->text().isEmpty());

    attempt.device->close();
    QVERIFY(attempt.waitForFinished());
}

void TestAskpassLink::unknownHostKeyOnHostKeyPage()
{
    // The fingerprint the server's RSA host key really has.
    QProcess keygen;
    keygen.start("ssh-keygen", {"-l", "-E", "sha256", "-f", sshd->tempPath() + "/ssh_host_rsa_key.pub"});
    QVERIFY(keygen.waitForFinished(10000));
    const QList<QByteArray> fields = keygen.readAllStandardOutput().split(' ');
    QVERIFY(fields.size() > 2);
    const QString fingerprint = QString::fromLatin1(fields.at(1));
    QVERIFY(fingerprint.startsWith("SHA256:"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString knownHosts = dir.filePath("known_hosts");
    const QByteArray trusted = qgetenv("NUVEK_KNOWN_HOSTS");
    qputenv("NUVEK_KNOWN_HOSTS", QFile::encodeName(knownHosts));
    auto restore = qScopeGuard([&] { qputenv("NUVEK_KNOWN_HOSTS", trusted); });

    Attempt attempt;
    attempt.start(*sshd, sshd->user());
    QVERIFY2(attempt.waitForPage(OperationStatusDialog::HostKeyPage), qPrintable(attempt.log()));
    QCOMPARE(attempt.edit("HostKeyLineEdit")->text(), fingerprint);
    QCOMPARE(attempt.edit("HostKeyLineEdit")->selectedText(), fingerprint);
    attempt.pressContinue();

    QVERIFY(answerPassword(attempt));
    QVERIFY2(attempt.waitForConnected(), qPrintable(attempt.log()));
    // "yes" made ssh remember the key.
    QFile file(knownHosts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("ssh-rsa "));
}

void TestAskpassLink::userNameOnUserPage()
{
    Attempt attempt;
    attempt.start(*sshd, QString());
    QVERIFY2(attempt.waitForPage(OperationStatusDialog::UserPage), qPrintable(attempt.log()));
    QLineEdit *user = attempt.edit("UserLineEdit");
    QCOMPARE(user->text(), loggedOnUserName());
    QCOMPARE(user->selectedText(), loggedOnUserName());
    user->setText(sshd->user());
    attempt.pressContinue();

    QVERIFY(answerPassword(attempt));
    QVERIFY2(attempt.waitForConnected(), qPrintable(attempt.log()));
    QCOMPARE(attempt.device->user(), sshd->user());
}

void TestAskpassLink::noAnswerEndsTheAttempt()
{
    Attempt attempt;
    attempt.start(*sshd, sshd->user());
    QVERIFY(attempt.waitForPage(OperationStatusDialog::AnswerPage));
    // The dialog goes away without answering: the helper gets no answer, and
    // the login is given up instead of being retried with an empty password.
    attempt.dialog.reset();
    QVERIFY(attempt.waitForFinished());
    QCOMPARE(attempt.finishedStatus, QList<bool>{false});
    QCOMPARE(attempt.connectedCount, 0);
}

QTEST_MAIN(TestAskpassLink)
#include "tst_askpasslink.moc"
