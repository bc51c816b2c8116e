// From a profile to the server's sessions and their desktops: the Connections window opens a
// link (our plink over OpenSSH to a private sshd), the real nuvek2_sci answers on the test
// account, and the Sessions window lists, starts, renames, connects, disconnects and
// terminates sessions, whose desktops reach their windows through the link's SOCKS forward.

#include "connections/connection.h"
#include "connections/connectionlistwidget.h"
#include "link/operationstatusdialog.h"
#include "link/questiondialog.h"
#include "sessions/sessionlistwidget.h"
#include "sessions/sessionmodel.h"
#include "sessions/startsessiondialog.h"
#include "sessions/windowmodewidget.h"
#include "link/netstring.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"
#include "windows/rdpmainwidget.h"

#include <QDialogButtonBox>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

const int LinkTimeout = 30000;
const QRgb XtermColour = qRgb(0x20, 0x50, 0xC0);
const QString XtermCommand = QStringLiteral("exec xterm -b 0 -bg '#2050c0' -geometry 80x24+0+0");

int processes(const QByteArray &name)
{
    return childProcessIds(name).size();
}

// The desktop windows on screen.
QList<RdpMainWidget *> desktopWindows()
{
    QList<RdpMainWidget *> shown;
    for (RdpMainWidget *window : topLevelWindows<RdpMainWidget>()) {
        if (window->isVisible())
            shown << window;
    }
    return shown;
}

} // namespace

class TestSessionsFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void failingLinks_data();
    void failingLinks();
    void oneLinkPerProfile();
    void startSessions();
    void secondLinkListsTheSameSessions();
    void rename();
    void disconnectAndConnect();
    void desktopOutlivesTheSessionsWindow();
    void terminate();

private:
    void activate(const Connection &profile);
    SessionListWidget *sessionsWindow(const Connection &profile) const;
    static SessionModel *model(SessionListWidget *window);
    bool waitForLink(SessionListWidget *window);
    bool refreshUntil(const std::function<bool()> &condition);
    QList<QJsonObject> sentRequests(const QString &method) const;
    QString serverDataPath() const { return dataHome + "/Ostrane Rodorivezozoru/Nuvek/server"; }
    void selectSession(SessionListWidget *window, const QString &id);
    void startSession(SessionListWidget *window, const QString &command, const QString &geometry,
                      const QString &bookmarkId = QString());
    static Session sessionIn(SessionListWidget *window, const QString &id);

    std::unique_ptr<SshdFixture> sshd;
    QTemporaryDir profiles;
    QTemporaryDir settings;
    QString dataHome; // the server side's XDG_DATA_HOME
    std::unique_ptr<ConnectionListWidget> connections;
    Connection first;
    Connection second;
    QStringList startedIds;
};

void TestSessionsFlow::initTestCase()
{
    prepareClientEnvironment(settings.path());
    QVERIFY2(QFile::exists(nuvekBinDir() + "/nuvek2_sci"), "nuvek2_sci has not been built");
    sshd = std::make_unique<SshdFixture>();
    QString why;
    if (!sshd->isAvailable(&why))
        QSKIP(qPrintable(why));
    QVERIFY(sshd->installClientKey());
    const passwd *account = ::getpwnam(sshd->user().toLocal8Bit().constData());
    QVERIFY(account);

    // The server program's own data, with one named bookmark, owned by the test account.
    dataHome = sshd->tempPath() + "/data";
    QVERIFY(QDir().mkpath(serverDataPath()));
    QFile bookmarks(serverDataPath() + "/bookmarks.json");
    QVERIFY(bookmarks.open(QIODevice::WriteOnly));
    const QJsonObject clock{{"id", "clock-bookmark"}, {"name", "Clock"}, {"command", "sleep 302"}, {"geometry", "640x480"}};
    bookmarks.write(QJsonDocument(QJsonObject{{"bookmarks", QJsonArray{clock}}, {"history", QJsonArray()}}).toJson());
    bookmarks.close();
    QDirIterator it(dataHome, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QVERIFY(::chown(QFile::encodeName(dataHome).constData(), account->pw_uid, account->pw_gid) == 0);
    while (it.hasNext())
        QVERIFY(::chown(QFile::encodeName(it.next()).constData(), account->pw_uid, account->pw_gid) == 0);

    // nuvek2_sci on the account's PATH, with that data folder, keeping what it was sent.
    sshd->addProgram("nuvek2_sci", QStringLiteral("#!/bin/sh\nexport XDG_DATA_HOME='%1'\n"
                                                  "tee -a \"%1/requests-$$.log\" | '%2/nuvek2_sci' \"$@\"\n")
                                       .arg(dataHome, nuvekBinDir())
                                       .toUtf8());
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();

    first = makeProfile(profiles.path(), "First", sshd->host(), sshd->port(), sshd->user());
    second = makeProfile(profiles.path(), "Second", sshd->host(), sshd->port(), sshd->user(), "nuvek2_sci");
    connections = std::make_unique<ConnectionListWidget>(profiles.path(), QString());
    connections->show();
}

void TestSessionsFlow::cleanupTestCase()
{
    connections.reset();
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
    // Every link and helper the client started has ended.
    QTRY_COMPARE_WITH_TIMEOUT(processes("plink") + processes("askpass"), 0, 10000);
    // Sessions a failed test left behind end by the server program's own hand.
    // The server keeps them per host: sessions/<host>/<id>.
    QStringList ids;
    for (const QFileInfo &host : QDir(serverDataPath() + "/sessions").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        ids += QDir(host.filePath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (sshd && sshd->isRunning() && !ids.isEmpty()) {
        QProcess sci;
        sci.start("runuser", {"-u", sshd->user(), "--", sshd->binPath() + "/nuvek2_sci"});
        for (const QString &id : ids)
            sci.write(encodeNetString(QString::fromUtf8(QJsonDocument(QJsonObject{
                {"jsonrpc", "2.0"}, {"id", id}, {"method", "Nuvek.terminate"}, {"params", QJsonObject{{"id", id}}}}).toJson())));
        sci.closeWriteChannel();
        sci.waitForFinished(30000);
        qWarning("terminated sessions left over: %s", qPrintable(ids.join(' ')));
    }
    qDeleteAll(visibleErrorBoxes());
    sshd.reset();
}

void TestSessionsFlow::activate(const Connection &profile)
{
    auto *view = connections->findChild<QTableView *>("ConnectionListView");
    QVERIFY(view);
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QModelIndex index = view->model()->index(row, 0);
        if (index.data().toString().contains(profile.name())) {
            view->setCurrentIndex(index);
            QTest::keyClick(view, Qt::Key_Return);
            return;
        }
    }
    QFAIL("profile not listed");
}

SessionListWidget *TestSessionsFlow::sessionsWindow(const Connection &profile) const
{
    for (SessionListWidget *window : topLevelWindows<SessionListWidget>()) {
        if (window->objectName() == ConnectionListWidget::windowKey(profile.uid(), "SessionListWidget"))
            return window;
    }
    return nullptr;
}

SessionModel *TestSessionsFlow::model(SessionListWidget *window)
{
    return window->findChild<SessionModel *>("SessionListModel");
}

bool TestSessionsFlow::waitForLink(SessionListWidget *window)
{
    // The status dialog goes once the server program has answered.
    QPointer<SessionListWidget> guard(window);
    return QTest::qWaitFor([&] { return !guard || !guard->findChild<OperationStatusDialog *>(); }, LinkTimeout)
        && guard;
}

// Polls every open Sessions window now instead of waiting for their timers.
bool TestSessionsFlow::refreshUntil(const std::function<bool()> &condition)
{
    for (int round = 0; round < 60 && !condition(); ++round) {
        for (SessionListWidget *window : topLevelWindows<SessionListWidget>()) {
            if (SessionModel *m = model(window)) {
                QMetaObject::invokeMethod(m, "forceUpdate");
                QSignalSpy(m, &SessionModel::sessionsUpdated).wait(1000);
            }
        }
    }
    return condition();
}

QList<QJsonObject> TestSessionsFlow::sentRequests(const QString &method) const
{
    // One file per link, in the order the links were made; NetStrings of JSON-RPC requests.
    QList<QJsonObject> requests;
    for (const QFileInfo &log : QDir(dataHome).entryInfoList({"requests-*.log"}, QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(log.filePath());
        file.open(QIODevice::ReadOnly);
        const QByteArray stream = file.readAll();
        for (int pos = 0, colon; (colon = stream.indexOf(':', pos)) > pos;) {
            const int length = stream.mid(pos, colon - pos).toInt();
            if (stream.size() < colon + length + 2)
                break;
            const QJsonObject request = QJsonDocument::fromJson(stream.mid(colon + 1, length)).object();
            if (request.value("method").toString() == method)
                requests << request;
            pos = colon + length + 2;
        }
    }
    return requests;
}

void TestSessionsFlow::selectSession(SessionListWidget *window, const QString &id)
{
    auto *view = window->findChild<QTableView *>("SessionListView");
    auto *proxy = qobject_cast<QSortFilterProxyModel *>(view->model());
    for (int row = 0; row < proxy->rowCount(); ++row) {
        const QModelIndex index = proxy->index(row, 0);
        if (model(window)->session(proxy->mapToSource(index).row()).id == id) {
            // As a click does: the row becomes current too.
            view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            return;
        }
    }
    QFAIL(qPrintable("no row for session " + id));
}

void TestSessionsFlow::startSession(SessionListWidget *window, const QString &command, const QString &geometry,
                                    const QString &bookmarkId)
{
    QTest::mouseClick(window->findChild<QPushButton *>("NewSessionButton"), Qt::LeftButton);
    QPointer<StartSessionDialog> dialog = window->findChild<StartSessionDialog *>();
    QVERIFY(dialog);
    if (!bookmarkId.isEmpty()) {
        // Picked from the server's list, and left as it is.
        QTRY_VERIFY_WITH_TIMEOUT(dialog->findChild<QMenu *>("BookmarkButtonMenu"), 10000);
        for (QAction *action : dialog->findChild<QMenu *>("BookmarkButtonMenu")->actions()) {
            if (action->data().toString() == bookmarkId)
                action->trigger();
        }
    } else {
        dialog->findChild<QLineEdit *>("CommandLineEdit")->setText(command);
        dialog->findChild<WindowModeWidget *>()->setModeOrGeometry(geometry);
    }
    dialog->accept();
    QTRY_VERIFY(!dialog);
}

Session TestSessionsFlow::sessionIn(SessionListWidget *window, const QString &id)
{
    for (const Session &session : model(window)->sessions()) {
        if (session.id == id)
            return session;
    }
    Session none;
    none.clients = -1;
    return none;
}

void TestSessionsFlow::failingLinks_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("sci");
    QTest::addColumn<QString>("message"); // empty: the user aborts, and no box comes
    QTest::newRow("aborted") << "127.0.0.1" << "" << "";
    QTest::newRow("unknown host") << "no-such-host.invalid" << ""
                                  << "The host \"no-such-host.invalid\" was not recognized. Make sure the hostname is correct.";
    QTest::newRow("missing program") << "127.0.0.1" << "/opt/nuvek-no-such-program -x"
                                     << "Unable to contact the server. Check that the server is properly installed and "
                                        "that the SCI is accessible to the user \"nuvektest\".";
}

void TestSessionsFlow::failingLinks()
{
    QFETCH(QString, host);
    QFETCH(QString, sci);
    QFETCH(QString, message);
    const Connection profile = makeProfile(QString(), QTest::currentDataTag(), host, sshd->port(), sshd->user(), sci);
    connections->openConnection(profile);
    QPointer<SessionListWidget> window = sessionsWindow(profile);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("%1 (%2)").arg(profile.name(), host));
    QPointer<OperationStatusDialog> status = window->findChild<OperationStatusDialog *>();
    QVERIFY(status && status->isVisible());
    if (message.isEmpty())
        status->reject();
    // The window goes with the link, and a box says why unless the user ended it.
    QTRY_VERIFY_WITH_TIMEOUT(!window, LinkTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(processes("plink") + processes("askpass"), 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(visibleErrorBoxes().size(), message.isEmpty() ? 0 : 1, 5000);
    if (!message.isEmpty()) {
        QCOMPARE(visibleErrorBoxes().first()->text(), "There was a problem with the connection.<br><br>" + message);
        QVERIFY(!visibleErrorBoxes().first()->detailedText().isEmpty());
    }
    qDeleteAll(visibleErrorBoxes());
}

void TestSessionsFlow::oneLinkPerProfile()
{
    activate(first);
    QPointer<SessionListWidget> window = sessionsWindow(first);
    QVERIFY(window && window->isVisible());
    QVERIFY2(waitForLink(window), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(processes("plink"), 1);
    // The server program was started under its default name, and asked for its version once.
    QCOMPARE(sentRequests("Nuvek.version").size(), 1);

    // Activating the profile again brings the same window forward, over the same link.
    window->showMinimized();
    activate(first);
    QCOMPARE(sessionsWindow(first), window.data());
    QTRY_VERIFY(!window->isMinimized());
    QCOMPARE(processes("plink"), 1);
    QCOMPARE(sentRequests("Nuvek.version").size(), 1);
    QVERIFY(visibleErrorBoxes().isEmpty());
}

void TestSessionsFlow::startSessions()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
    QCOMPARE(model(window)->rowCount(), 0);
    startSession(window, XtermCommand, "640x480");
    startSession(window, "sleep 301", "rootless");
    startSession(window, QString(), QString(), "clock-bookmark");

    // The client makes the ids; the name only goes with the picked bookmark.
    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.start").size(), 3, 10000);
    const QList<QJsonObject> expected{QJsonObject{{"command", XtermCommand}, {"geometry", "640x480"}},
                                      QJsonObject{{"command", "sleep 301"}, {"geometry", "rootless"}},
                                      QJsonObject{{"command", "sleep 302"}, {"geometry", "640x480"}, {"name", "Clock"}}};
    for (int i = 0; i < 3; ++i) {
        QJsonObject params = sentRequests("Nuvek.start").at(i).value("params").toObject();
        startedIds << params.take("id").toString();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(startedIds.last()).hasMatch(), qPrintable(startedIds.last()));
        QCOMPARE(params, expected.at(i));
    }

    // Each started session is connected at once: its desktop opens (the single application
    // has none: its program opens no window) and the server counts the viewer.
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows().size(), 2, 30000);
    QVERIFY(refreshUntil([&] {
        return std::all_of(startedIds.begin(), startedIds.end(), [&](const QString &id) { return sessionIn(window, id).clients == 1; });
    }));
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(sessionIn(window, startedIds.at(2)).displayName(), QStringLiteral("Clock"));
    QStringList ids;
    for (const Session &session : model(window)->sessions())
        ids << session.id;
    QStringList sortedIds = startedIds;
    sortedIds.sort();
    QCOMPARE(ids, sortedIds);

    // The xterm's desktop shows its colour in the top-left corner, the rest is the server's.
    RdpMainWidget *xterm = nullptr;
    for (RdpMainWidget *desktop : desktopWindows()) {
        if (desktop->windowTitle() == XtermCommand) // without a name the command line is the title
            xterm = desktop;
    }
    QVERIFY(xterm);
    QWidget *desktop = xterm->desktopWidget();
    QCOMPARE(desktop->size(), QSize(640, 480));
    QTRY_VERIFY_WITH_TIMEOUT(nearColour(widgetPixel(desktop, 300, 200), XtermColour), 10000);
    QVERIFY(!nearColour(widgetPixel(desktop, 620, 460), XtermColour));
}

void TestSessionsFlow::secondLinkListsTheSameSessions()
{
    activate(second);
    SessionListWidget *window = sessionsWindow(second);
    QVERIFY(window && window != sessionsWindow(first));
    QVERIFY2(waitForLink(window), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(processes("plink"), 2);
    QVERIFY(refreshUntil([&] { return model(window)->sessions() == model(sessionsWindow(first))->sessions(); }));
    QCOMPARE(model(window)->rowCount(), 3);
}

void TestSessionsFlow::rename()
{
    SessionListWidget *window = sessionsWindow(first);
    window->resize(1200, 400);
    const QString id = startedIds.at(0);
    selectSession(window, id);
    auto *editButton = window->findChild<QPushButton *>("EditSessionButton");
    QTRY_VERIFY(editButton->isVisible());
    QTest::mouseClick(editButton, Qt::LeftButton);
    QLineEdit *editor = nullptr;
    QTRY_VERIFY((editor = window->findChild<QTableView *>("SessionListView")->viewport()->findChild<QLineEdit *>())
                && editor->isVisible());
    QCOMPARE(editor->text(), XtermCommand);
    editor->setText("Renamed");
    QTest::keyClick(editor, Qt::Key_Return);

    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.params").size(), 1, 5000);
    QCOMPARE(sentRequests("Nuvek.params").first().value("params").toObject(), QJsonObject({{"id", id}, {"name", "Renamed"}}));
    QTRY_COMPARE_WITH_TIMEOUT(sessionIn(window, id).name, QStringLiteral("Renamed"), 5000);
    // The other link sees it at its next poll.
    QVERIFY(refreshUntil([&] { return sessionIn(sessionsWindow(second), id).name == "Renamed"; }));
}

void TestSessionsFlow::disconnectAndConnect()
{
    SessionListWidget *window = sessionsWindow(first);
    const QString id = startedIds.at(0);
    const int windows = desktopWindows().size();
    selectSession(window, id);
    auto *connectButton = window->findChild<QPushButton *>("ConnectSessionButton");
    auto *disconnectButton = window->findChild<QPushButton *>("DisconnectSessionButton");
    QVERIFY(!connectButton->isEnabled());
    QVERIFY(disconnectButton->isEnabled());
    QTest::mouseClick(disconnectButton, Qt::LeftButton);
    // Done: the list is asked for again at once; the server dropped the viewer and its
    // window goes, without a message.
    QTRY_COMPARE_WITH_TIMEOUT(sessionIn(window, id).clients, 0, 5000);
    QCOMPARE(sentRequests("Nuvek.disconnect").size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows().size(), windows - 1, 10000);

    // Connecting asks the server for the way in; the display engine takes it from there.
    selectSession(window, id);
    QTRY_VERIFY(connectButton->isEnabled());
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.connect").size(), 1, 5000);
    QCOMPARE(sentRequests("Nuvek.connect").first().value("params").toObject(), QJsonObject({{"id", id}}));
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows().size(), windows, 30000);
    QVERIFY(refreshUntil([&] { return sessionIn(window, id).clients == 1; }));

    // Closing the desktop windows ends the viewers quietly; the sessions stay.
    for (RdpMainWidget *desktop : desktopWindows())
        desktop->close();
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows().size(), 0, 10000);
    for (QAction *disconnect : sessionMenuActions("DisconnectAction"))
        disconnect->trigger();
    QVERIFY(refreshUntil([&] {
        return std::all_of(startedIds.begin(), startedIds.end(), [&](const QString &s) { return sessionIn(window, s).clients == 0; });
    }));
    QCOMPARE(model(window)->rowCount(), 3);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

void TestSessionsFlow::desktopOutlivesTheSessionsWindow()
{
    QPointer<SessionListWidget> window = sessionsWindow(second);
    QVERIFY(window);
    selectSession(window, startedIds.at(0));
    auto *connectButton = window->findChild<QPushButton *>("ConnectSessionButton");
    QTRY_VERIFY(connectButton->isEnabled());
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows().size(), 1, 30000);
    QPointer<RdpMainWidget> desktop = desktopWindows().first();

    // The Sessions window goes at once; the connection runs on through the link's forward.
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, 10000);
    QVERIFY(desktop && desktop->isVisible());
    QCOMPARE(processes("plink"), 2);

    // Closing the desktop ends the connection, and with it the link, quietly.
    QVERIFY(desktop->close());
    QTRY_VERIFY(!desktop);
    QTRY_COMPARE_WITH_TIMEOUT(processes("plink"), 1, 10000);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));

    // Activating the profile again opens a new link.
    activate(second);
    QVERIFY(waitForLink(sessionsWindow(second)));
    QCOMPARE(processes("plink"), 2);
}

void TestSessionsFlow::terminate()
{
    SessionListWidget *window = sessionsWindow(first);
    for (const QString &id : qAsConst(startedIds)) {
        selectSession(window, id);
        QTest::mouseClick(window->findChild<QPushButton *>("TerminateSessionButton"), Qt::LeftButton);
        QPointer<QuestionDialog> question = window->findChild<QuestionDialog *>();
        QVERIFY(question);
        for (QAbstractButton *button : question->findChild<QDialogButtonBox *>()->buttons()) {
            if (button->text() == QLatin1String("Terminate"))
                button->click();
        }
        QTRY_VERIFY(!question);
        // Done: the list is asked for again at once.
        QTRY_COMPARE_WITH_TIMEOUT(sessionIn(window, id).clients, -1, 10000);
    }
    QCOMPARE(sentRequests("Nuvek.terminate").size(), 3);
    QVERIFY(refreshUntil([&] { return model(sessionsWindow(second))->rowCount() == 0; }));
    QVERIFY(QDir(serverDataPath() + "/sessions").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

QTEST_MAIN(TestSessionsFlow)
#include "tst_sessionsflow.moc"
