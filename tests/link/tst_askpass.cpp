#include "app/username.h"
#include "link/askpasshandler.h"
#include "link/netstring.h"
#include "link/operationstatusdialog.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

const QString RsaHostKeyQuestion = QStringLiteral(
    "The authenticity of host '[127.0.0.1]:2222 ([127.0.0.1]:2222)' can't be established.\n"
    "RSA key fingerprint is SHA256:Hq1VmQ1pTzvo8cqYKp0bnJ3bU8pmu7mN2cTqS5m3LxM.\n"
    "This key is not known by any other names.\n"
    "Are you sure you want to continue connecting (yes/no/[fingerprint])? ");
const QString Ed25519HostKeyQuestion = QStringLiteral(
    "The authenticity of host '[127.0.0.1]:2222 ([127.0.0.1]:2222)' can't be established.\n"
    "ED25519 key fingerprint is SHA256:WhfLfYzsvidfkzJxakLoyWuEoywWfRz7Gvn1fligpXk.\n"
    "This key is not known by any other names.\n"
    "Are you sure you want to continue connecting (yes/no/[fingerprint])? ");

// A dialog serving a relay server, with accessors for what the tests look at.
struct Relay
{
    Relay()
        : server(createAskpassServer(nullptr)), dialog(new OperationStatusDialog)
    {
        QObject::connect(server.get(), &QLocalServer::newConnection,
                         dialog.get(), &OperationStatusDialog::handleNewAskpassConnections);
    }

    int page() const { return dialog->findChild<QStackedWidget *>("StackedWidget")->currentIndex(); }
    QLineEdit *edit(const char *name) const { return dialog->findChild<QLineEdit *>(name); }
    QString instructions() const { return dialog->findChild<QLabel *>("InstructionsLabel")->text(); }
    QStringList buttonTexts() const
    {
        QStringList texts;
        for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>("ButtonBox")->buttons())
            texts << button->text();
        return texts;
    }
    QPushButton *button(const QString &text) const
    {
        for (QAbstractButton *b : dialog->findChild<QDialogButtonBox *>("ButtonBox")->buttons())
            if (b->text() == text)
                return qobject_cast<QPushButton *>(b);
        return nullptr;
    }

    // Answers the question on the current page: types `typed` into the page's
    // line edit when there is one that can be typed into, then presses "Continue".
    void answer(const QString &typed) const
    {
        if (page() == OperationStatusDialog::AnswerPage)
            edit("AnswerLineEdit")->setText(typed);
        else if (page() == OperationStatusDialog::UserPage)
            edit("UserLineEdit")->setText(typed);
        QPushButton *go = button("Continue");
        QVERIFY(go);
        go->click();
    }

    std::unique_ptr<QLocalServer> server;
    std::unique_ptr<OperationStatusDialog> dialog;
};

// Plays the helper's part by hand.
std::unique_ptr<QLocalSocket> connectHelper(const Relay &relay)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(relay.server->fullServerName());
    socket->waitForConnected(5000);
    return socket;
}

QByteArray readAll(QLocalSocket &socket, int expected)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < expected && timer.elapsed() < 5000) {
        QCoreApplication::processEvents();
        socket.waitForReadyRead(20);
        got += socket.readAll();
    }
    return got;
}

struct Helper
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();

    void start(const QString &question, const QString *serverName)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("OSTRANE_ASKPASS_SERVER");
        if (serverName)
            env.insert("OSTRANE_ASKPASS_SERVER", *serverName);
        process->setProcessEnvironment(env);
        process->start(nuvekBinDir() + "/askpass", {question});
    }
    bool waitDone()
    {
        // The event loop runs meanwhile: the dialog answers from it.
        return QTest::qWaitFor([this] { return process->state() == QProcess::NotRunning; }, 10000);
    }
};

} // namespace

class TestAskpass : public QObject
{
    Q_OBJECT

private slots:
    void pageAndAnswerForEachQuestion_data();
    void pageAndAnswerForEachQuestion();
    void questionArrivingByteByByte();
    void badQuestionClosesSocket_data();
    void badQuestionClosesSocket();
    void helperWaitingWhileAnotherIsServedIsServedNext();
    void abortRejects();
    void helperPrintsAnswerWithoutLineEnd_data();
    void helperPrintsAnswerWithoutLineEnd();
    void helperFailsWithoutAnswer_data();
    void helperFailsWithoutAnswer();
    void helperFailsWhenDialogGoesAway();
    void relayOnlyForThisUser();
    void userNameIsTheEffectiveUsers();
};

void TestAskpass::pageAndAnswerForEachQuestion_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("shown");     // label text (page 1) or line edit text (pages 2, 3)
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");

    const int answer = OperationStatusDialog::AnswerPage, hostKey = OperationStatusDialog::HostKeyPage,
              user = OperationStatusDialog::UserPage;
    const QString password = QStringLiteral("nuvektest@127.0.0.1's password: ");
    QTest::newRow("password") << password << answer << password << "s3cret" << QByteArray("6:s3cret,");
    QTest::newRow("non-ASCII password counts UTF-8 bytes")
        << password << answer << password << QString::fromUtf8("p\xc3\xa4ss") << QByteArray("5:p\xc3\xa4ss,");
    QTest::newRow("password with separators") << password << answer << password << "a:b,c"
                                              << QByteArray("5:a:b,c,");
    QTest::newRow("empty password") << password << answer << password << "" << QByteArray("0:,");
    const QString passphrase = QStringLiteral("Enter passphrase for key '/home/nuvektest/.ssh/id_rsa': ");
    QTest::newRow("passphrase") << passphrase << answer << passphrase << "phrase" << QByteArray("6:phrase,");
    QTest::newRow("RSA host key") << RsaHostKeyQuestion << hostKey
                                  << "SHA256:Hq1VmQ1pTzvo8cqYKp0bnJ3bU8pmu7mN2cTqS5m3LxM" << ""
                                  << QByteArray("3:yes,");
    // Only an RSA fingerprint line is recognised as such; plink adds a "Store key"
    // line for the other key types.
    QTest::newRow("ED25519 host key") << Ed25519HostKeyQuestion << answer << Ed25519HostKeyQuestion << "yes"
                                      << QByteArray("3:yes,");
    QTest::newRow("ED25519 host key from plink")
        << Ed25519HostKeyQuestion + "\nStore key ED25519 SHA256:WhfLfYzsvidfkzJxakLoyWuEoywWfRz7Gvn1fligpXk "
                                    "for host [127.0.0.1]:2222?"
        << hostKey << "ED25519 SHA256:WhfLfYzsvidfkzJxakLoyWuEoywWfRz7Gvn1fligpXk" << "" << QByteArray("4:save,");
    QTest::newRow("store key") << QStringLiteral("Store key ssh-rsa 2048 ab:cd for host srv1 in cache?")
                               << hostKey << "ssh-rsa 2048 ab:cd" << "" << QByteArray("4:save,");
    QTest::newRow("update key") << QStringLiteral("Update key ssh-ed25519 255 SHA256:xyz for host srv1?")
                                << hostKey << "ssh-ed25519 255 SHA256:xyz" << "" << QByteArray("4:save,");
    QTest::newRow("user name") << QStringLiteral("The user for \"srv1\":") << user << loggedOnUserName()
                               << "bob" << QByteArray("3:bob,");
    QTest::newRow("non-ASCII user name") << QString::fromUtf8("The user for \"h\xc3\xb6st\":") << user
                                         << loggedOnUserName() << QString::fromUtf8("j\xc3\xb6rg")
                                         << QByteArray("5:j\xc3\xb6rg,");
    QTest::newRow("empty question") << QString() << answer << QString() << "x" << QByteArray("1:x,");
    QTest::newRow("markup stays text") << QStringLiteral("<b>bold</b> password: ") << answer
                                       << QStringLiteral("<b>bold</b> password: ") << "x" << QByteArray("1:x,");
}

void TestAskpass::pageAndAnswerForEachQuestion()
{
    QFETCH(QString, question);
    QFETCH(int, page);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);

    Relay relay;
    relay.dialog->show();
    QCOMPARE(relay.page(), int(OperationStatusDialog::StatusPage));
    QCOMPARE(relay.buttonTexts(), QStringList{"Abort"});

    auto helper = connectHelper(relay);
    helper->write(encodeNetString(question));
    QTRY_COMPARE(relay.page(), page);
    QCOMPARE(relay.buttonTexts(), (QStringList{"Continue", "Abort"}));
    QVERIFY(relay.button("Continue")->isDefault());
    if (page == OperationStatusDialog::AnswerPage) {
        QCOMPARE(relay.dialog->focusWidget(), relay.edit("AnswerLineEdit"));
        QCOMPARE(relay.instructions(), shown);
        QCOMPARE(relay.dialog->findChild<QLabel *>("InstructionsLabel")->textFormat(), Qt::PlainText);
    } else {
        QLineEdit *edit = relay.edit(page == OperationStatusDialog::HostKeyPage ? "HostKeyLineEdit" : "UserLineEdit");
        QCOMPARE(relay.dialog->focusWidget(), edit);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(edit->selectedText(), shown);
    }

    relay.answer(typed);
    QCOMPARE(readAll(*helper, sent.size()), sent);

    // The helper goes away: back to the status page, with nothing left behind.
    helper->disconnectFromServer();
    QTRY_COMPARE(relay.page(), int(OperationStatusDialog::StatusPage));
    QCOMPARE(relay.buttonTexts(), QStringList{"Abort"});
    QVERIFY(relay.button("Abort")->isDefault());
    QVERIFY(relay.instructions().isEmpty());
    QVERIFY(relay.edit("AnswerLineEdit")->text().isEmpty());
    QVERIFY(relay.edit("HostKeyLineEdit")->text().isEmpty());
    QVERIFY(relay.edit("UserLineEdit")->text().isEmpty());
}

void TestAskpass::questionArrivingByteByByte()
{
    Relay relay;
    auto helper = connectHelper(relay);
    const QByteArray frame = encodeNetString(RsaHostKeyQuestion);
    QSignalSpy pageChanged(relay.dialog->findChild<QStackedWidget *>("StackedWidget"),
                           &QStackedWidget::currentChanged);
    for (int i = 0; i < frame.size(); ++i) {
        helper->write(frame.mid(i, 1));
        helper->flush();
        if (i % 16 == 0)
            QTest::qWait(1);
    }
    QTRY_COMPARE(relay.page(), int(OperationStatusDialog::HostKeyPage));
    QCOMPARE(pageChanged.count(), 1);
}

void TestAskpass::badQuestionClosesSocket_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("error");
    QTest::newRow("no colon") << QByteArray("password") << "Got an invalid NetString";
    QTest::newRow("bad length") << QByteArray("1x:a,") << "Got an invalid NetString length";
    QTest::newRow("too long") << QByteArray("65537:") << "Got a NetString length that is too big";
}

void TestAskpass::badQuestionClosesSocket()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, error);

    QLocalServer server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    QVERIFY(server.listen(QStringLiteral("askpass-test-%1").arg(QCoreApplication::applicationPid())));
    QLocalSocket helper;
    helper.connectToServer(server.fullServerName());
    QVERIFY(server.waitForNewConnection(5000));
    QLocalSocket *socket = server.nextPendingConnection();
    auto *handler = new AskpassHandler(socket);
    QCOMPARE(handler->parent(), socket);
    QSignalSpy asked(handler, &AskpassHandler::needALittleHelpHere);

    helper.write(frame);
    QTRY_COMPARE(handler->state(), 2);
    QCOMPARE(handler->errorString(), error);
    QVERIFY(!socket->isOpen());
    QTRY_COMPARE(helper.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(asked.count(), 0);
}

void TestAskpass::helperWaitingWhileAnotherIsServedIsServedNext()
{
    Relay relay;
    auto first = connectHelper(relay);
    first->write(encodeNetString("first password: "));
    QTRY_COMPARE(relay.instructions(), QStringLiteral("first password: "));

    // One question at a time: the second helper waits for the first to go.
    auto second = connectHelper(relay);
    second->write(encodeNetString("second password: "));
    QTest::qWait(100);
    QCOMPARE(relay.instructions(), QStringLiteral("first password: "));

    relay.answer("one");
    QCOMPARE(readAll(*first, 5), QByteArray("3:one,"));
    first->disconnectFromServer();
    QTRY_COMPARE(relay.instructions(), QStringLiteral("second password: "));
    relay.answer("two");
    QCOMPARE(readAll(*second, 5), QByteArray("3:two,"));
    QCOMPARE(first->readAll(), QByteArray());
}

void TestAskpass::abortRejects()
{
    Relay relay;
    QSignalSpy rejected(relay.dialog.get(), &QDialog::rejected);
    QSignalSpy accepted(relay.dialog.get(), &QDialog::accepted);
    relay.dialog->show();
    relay.button("Abort")->click();
    QCOMPARE(rejected.count(), 1);

    // "Continue" answers but never closes the dialog; "Abort" on a question page rejects.
    relay.dialog->show();
    auto helper = connectHelper(relay);
    helper->write(encodeNetString("password: "));
    QTRY_COMPARE(relay.page(), int(OperationStatusDialog::AnswerPage));
    relay.answer("x");
    QVERIFY(relay.dialog->isVisible());
    relay.button("Abort")->click();
    QCOMPARE(rejected.count(), 2);
    QCOMPARE(accepted.count(), 0);
}

void TestAskpass::helperPrintsAnswerWithoutLineEnd_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("printed");
    QTest::newRow("password") << "nuvektest@127.0.0.1's password: " << QString::fromUtf8("gr\xc3\xbc\xc3\x9f dich")
                              << QByteArray("gr\xc3\xbc\xc3\x9f dich");
    QTest::newRow("host key") << RsaHostKeyQuestion << "" << QByteArray("yes");
    QTest::newRow("user name") << "The user for \"srv1\":" << "alice" << QByteArray("alice");
    QTest::newRow("empty answer") << "password: " << "" << QByteArray();
}

void TestAskpass::helperPrintsAnswerWithoutLineEnd()
{
    QFETCH(QString, question);
    QFETCH(QString, typed);
    QFETCH(QByteArray, printed);

    Relay relay;
    Helper helper;
    const QString name = relay.server->fullServerName();
    helper.start(question, &name);
    QTRY_VERIFY_WITH_TIMEOUT(relay.page() != OperationStatusDialog::StatusPage, 10000);
    if (relay.page() == OperationStatusDialog::AnswerPage)
        QCOMPARE(relay.instructions(), question);
    relay.answer(typed);
    QVERIFY(helper.waitDone());
    QCOMPARE(helper.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.process->exitCode(), 0);
    QCOMPARE(helper.process->readAllStandardOutput(), printed);
    QTRY_COMPARE(relay.page(), int(OperationStatusDialog::StatusPage));
}

void TestAskpass::helperFailsWithoutAnswer_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("no variable") << "unset";
    QTest::newRow("empty variable") << "empty";
    QTest::newRow("no such server") << "missing";
    QTest::newRow("closed without answer") << "close";
    QTest::newRow("closed after half an answer") << "half";
    QTest::newRow("bad answer") << "garbage";
}

void TestAskpass::helperFailsWithoutAnswer()
{
    QFETCH(QString, how);

    QLocalServer server;
    QVERIFY(server.listen(QStringLiteral("askpass-test-%1").arg(QCoreApplication::applicationPid())));
    QString name = server.fullServerName();
    QByteArray reply;
    if (how == "empty")
        name.clear();
    else if (how == "missing")
        name += "-gone";
    else if (how == "half")
        reply = "10:abc";
    else if (how == "garbage")
        reply = "abcdefghij";
    QByteArray question;
    connect(&server, &QLocalServer::newConnection, [&] {
        QLocalSocket *socket = server.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, [&question, socket, reply] {
            question += socket->readAll();
            if (!question.endsWith(','))
                return;
            socket->write(reply);
            socket->flush();
            socket->disconnectFromServer();
        });
    });

    Helper helper;
    helper.start("password: ", how == "unset" ? nullptr : &name);
    QVERIFY(helper.waitDone());
    QCOMPARE(helper.process->exitStatus(), QProcess::NormalExit);
    QVERIFY(helper.process->exitCode() != 0);
    QCOMPARE(helper.process->readAllStandardOutput(), QByteArray());
    if (how == "close" || how == "half" || how == "garbage")
        QCOMPARE(question, QByteArray("10:password: ,"));
}

void TestAskpass::helperFailsWhenDialogGoesAway()
{
    Relay relay;
    Helper helper;
    const QString name = relay.server->fullServerName();
    helper.start("password: ", &name);
    QTRY_COMPARE_WITH_TIMEOUT(relay.page(), int(OperationStatusDialog::AnswerPage), 10000);
    relay.dialog.reset();
    QVERIFY(helper.waitDone());
    QVERIFY(helper.process->exitCode() != 0);
    QCOMPARE(helper.process->readAllStandardOutput(), QByteArray());
}

void TestAskpass::relayOnlyForThisUser()
{
    std::unique_ptr<QLocalServer> first(createAskpassServer(nullptr));
    std::unique_ptr<QLocalServer> second(createAskpassServer(nullptr));
    QVERIFY(first->isListening());
    QCOMPARE(first->socketOptions(), QLocalServer::UserAccessOption);
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

void TestAskpass::userNameIsTheEffectiveUsers()
{
    QProcess id;
    id.start("id", {"-un"});
    QVERIFY(id.waitForFinished(5000));
    QCOMPARE(loggedOnUserName(), QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed());
}

QTEST_MAIN(TestAskpass)
#include "tst_askpass.moc"
