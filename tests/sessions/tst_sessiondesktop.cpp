// A session started from the Sessions window opens its desktop window: the Connections
// window opens a link (our plink over OpenSSH to a private sshd), the real nuvek2_sci starts
// the session (its own Xvfb and RDP server with a per-session password), and the remote
// display reaches it through the link's SOCKS forward.

#include "connections/connection.h"
#include "connections/connectionfolders.h"
#include "connections/connectionlistwidget.h"
#include "link/netstring.h"
#include "link/operationstatusdialog.h"
#include "sessions/sessionlistwidget.h"
#include "sessions/sessionmodel.h"
#include "sessions/startsessiondialog.h"
#include "sessions/windowmodewidget.h"
#include "windows/rdpmainwidget.h"
#include "support/childprocesses.h"
#include "support/clientenvironment.h"
#include "support/errorboxes.h"
#include "support/serversessions.h"
#include "support/shadowserverfixture.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

#include <memory>

namespace {

const QRgb background = qRgb(0x20, 0x50, 0xC0);

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 8 && qAbs(qGreen(a) - qGreen(b)) <= 8
        && qAbs(qBlue(a) - qBlue(b)) <= 8;
}

QList<RdpMainWidget *> desktopWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<RdpMainWidget *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<RdpMainWidget *>(widget))
            windows << window;
    }
    return windows;
}

} // namespace

class TestSessionDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startedSessionOpensItsDesktop();
    void desktopOutlivesTheSessionsWindow();

private:
    SessionListWidget *sessionsWindow() const;
    int clientsOf(const QString &id) const;
    void terminateSessions();

    std::unique_ptr<SshdFixture> sshd;
    QTemporaryDir profiles;
    QTemporaryDir settings;
    QTemporaryDir dataHome; // the server side's XDG_DATA_HOME, owned by the test account
    std::unique_ptr<ConnectionListWidget> connections;
    Connection profile;
    QString sessionId; // the session started by the first test
};

void TestSessionDesktop::initTestCase()
{
    prepareClientEnvironment(settings.path());
    QVERIFY2(QFile::exists(nuvekBinDir() + "/nuvek2_sci"), "nuvek2_sci has not been built");
    if (!ShadowServerFixture::isAvailable())
        QSKIP("Xvfb and freerdp-shadow-cli are needed");

    sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!sshd->isAvailable(&why))
        QSKIP(qPrintable(why));
    QVERIFY(sshd->installClientKey());
    const passwd *account = ::getpwnam(sshd->user().toLocal8Bit().constData());
    QVERIFY(account);
    QVERIFY(::chown(QFile::encodeName(dataHome.path()).constData(), account->pw_uid, account->pw_gid) == 0);
    sshd->addProgram("nuvek2_sci", QStringLiteral("#!/bin/sh\n"
                                                  "export XDG_DATA_HOME='%1'\n"
                                                  "exec '%2/nuvek2_sci' \"$@\"\n")
                                       .arg(dataHome.path(), nuvekBinDir())
                                       .toUtf8());
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();

    profile.setUid(QUuid::createUuid());
    profile.setName(QStringLiteral("Desktop"));
    profile.setHost(sshd->host());
    profile.setPort(sshd->port());
    profile.setUser(sshd->user());
    QString error;
    QVERIFY2(saveConnection(connectionFilePath(profiles.path(), profile.uid()), profile, error),
             qPrintable(error));
    connections = std::make_unique<ConnectionListWidget>(profiles.path(), QString());
    connections->show();

    auto *view = connections->findChild<QTableView *>("ConnectionListView");
    QVERIFY(view);
    QCOMPARE(view->model()->rowCount(), 1);
    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QPointer<SessionListWidget> window = sessionsWindow();
    QVERIFY(window);
    // The status dialog goes once the server program has answered.
    QVERIFY(QTest::qWaitFor([&] { return !window || !window->findChild<OperationStatusDialog *>(); },
                            30000));
    QVERIFY(window);
}

void TestSessionDesktop::cleanupTestCase()
{
    for (RdpMainWidget *window : desktopWindows())
        window->close();
    QTRY_VERIFY(desktopWindows().isEmpty());
    if (sshd && sshd->isRunning())
        terminateSessions();
    connections.reset();
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
    qDeleteAll(visibleErrorBoxes());
    sshd.reset();
}

SessionListWidget *TestSessionDesktop::sessionsWindow() const
{
    const QString key = ConnectionListWidget::windowKey(profile.uid(), "SessionListWidget");
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == key)
            return qobject_cast<SessionListWidget *>(widget);
    }
    return nullptr;
}

int TestSessionDesktop::clientsOf(const QString &id) const
{
    SessionListWidget *window = sessionsWindow();
    auto *model = window ? window->findChild<SessionModel *>("SessionListModel") : nullptr;
    if (!model)
        return -1;
    for (const Session &session : model->sessions()) {
        if (session.id == id)
            return session.clients;
    }
    return -1;
}

void TestSessionDesktop::terminateSessions()
{
    terminateServerSessions(*sshd, dataHome.path() + "/Ostrane Rodorivezozoru/Nuvek/server/sessions");
}

void TestSessionDesktop::startedSessionOpensItsDesktop()
{
    SessionListWidget *window = sessionsWindow();
    QVERIFY(window);
    // A session whose screen shows a known colour (an xterm filling the top-left corner).
    const QString command = QStringLiteral("exec xterm -b 0 -bg '#2050c0' -geometry 80x24+0+0");
    QTest::mouseClick(window->findChild<QPushButton *>("NewSessionButton"), Qt::LeftButton);
    QPointer<StartSessionDialog> dialog = window->findChild<StartSessionDialog *>();
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>("CommandLineEdit")->setText(command);
    dialog->findChild<WindowModeWidget *>()->setModeOrGeometry(QStringLiteral("640x480"));
    dialog->accept();

    // The desktop window opens by itself once the server has started the session.
    QTRY_VERIFY2_WITH_TIMEOUT(desktopWindows().size() == 1, qPrintable(visibleErrorBoxTexts()),
                              30000);
    QPointer<RdpMainWidget> desktopWindow = desktopWindows().first();
    QVERIFY(desktopWindow->isVisible());
    // Without a name the command line is the title.
    QCOMPARE(desktopWindow->windowTitle(), command);
    QWidget *desktop = desktopWindow->desktopWidget();
    QCOMPARE(desktop->size(), QSize(640, 480));
    const auto pixel = [&](int x, int y) {
        return desktop->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0) | 0xFF000000u;
    };
    QTRY_VERIFY_WITH_TIMEOUT(near(pixel(300, 200), background), 10000);
    QVERIFY(!near(pixel(620, 460), background));

    // The list shows the session connected (a refresh follows the connection).
    SessionModel *model = window->findChild<SessionModel *>("SessionListModel");
    QVERIFY(model);
    QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 1, 10000);
    const QString id = model->session(0).id;
    sessionId = id;
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(id), 1, 10000);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));

    // Closing the desktop window ends the connection quietly; the session keeps running.
    QVERIFY(desktopWindow->close());
    QTRY_VERIFY(!desktopWindow);
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(id), 0, 10000);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

void TestSessionDesktop::desktopOutlivesTheSessionsWindow()
{
    QPointer<SessionListWidget> window = sessionsWindow();
    QVERIFY(window);
    QVERIFY(!sessionId.isEmpty());
    auto *view = window->findChild<QTableView *>("SessionListView");
    QCOMPARE(view->model()->rowCount(), 1);
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    auto *connectButton = window->findChild<QPushButton *>("ConnectSessionButton");
    QTRY_VERIFY(connectButton->isEnabled());
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(desktopWindows().size() == 1, 20000);
    QPointer<RdpMainWidget> desktopWindow = desktopWindows().first();
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(sessionId), 1, 10000);

    // The Sessions window goes; the connection runs on through the link's forward.
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, 10000);
    QTest::qWait(1000);
    QVERIFY(desktopWindow);
    QVERIFY(desktopWindow->isVisible());
    QVERIFY(!childProcessIds("plink").isEmpty());

    // Closing the desktop ends the connection, and with it the link, quietly.
    QVERIFY(desktopWindow->close());
    QTRY_VERIFY(!desktopWindow);
    QTRY_VERIFY_WITH_TIMEOUT(childProcessIds("plink").isEmpty(), 10000);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

QTEST_MAIN(TestSessionDesktop)
#include "tst_sessiondesktop.moc"
