// The whole path from a profile to the server's sessions: the Connections window
// opens a link (our plink over OpenSSH to a private sshd), the real nuvek2_sci
// answers on the test account, and the Sessions window lists, starts, renames,
// disconnects and terminates sessions there.

#include "connections/connection.h"
#include "connections/connectionfolders.h"
#include "connections/connectionlistwidget.h"
#include "link/netstring.h"
#include "link/operationstatusdialog.h"
#include "link/questiondialog.h"
#include "sessions/sessionlistwidget.h"
#include "sessions/sessionmodel.h"
#include "sessions/startsessiondialog.h"
#include "sessions/windowmodewidget.h"
#include "support/childprocesses.h"
#include "support/errorboxes.h"
#include "support/serversessions.h"
#include "support/sshdfixture.h"
#include "support/testsupport.h"
#include "windows/rdpmainwidget.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

#include <memory>

namespace {

const int LinkTimeout = 30000;
// One poll interval and some slack.
const int PollTimeout = SessionModel::UpdateInterval + 3000;

// Processes of ours whose program is `name`.
int childProcesses(const QByteArray &name)
{
    return childProcessIds(name).size();
}

// Every JSON-RPC request in a stream of NetStrings.
QList<QJsonObject> decodeRequests(const QByteArray &stream)
{
    QList<QJsonObject> requests;
    int pos = 0;
    for (;;) {
        const int colon = stream.indexOf(':', pos);
        if (colon <= pos)
            break;
        bool ok = false;
        const int length = stream.mid(pos, colon - pos).toInt(&ok);
        if (!ok || stream.size() < colon + length + 2)
            break;
        requests << QJsonDocument::fromJson(stream.mid(colon + 1, length)).object();
        pos = colon + length + 2;
    }
    return requests;
}

bool chownTree(const QString &path, uid_t uid, gid_t gid)
{
    bool ok = ::chown(QFile::encodeName(path).constData(), uid, gid) == 0;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::chown(QFile::encodeName(it.next()).constData(), uid, gid) == 0 && ok;
    return ok;
}

} // namespace

class TestSessionsFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void oneLinkPerProfile();
    void startSessions();
    void secondLinkListsTheSameSessions();
    void rename();
    void disconnectAndConnect();
    void serverError();
    void terminate();
    void closingTheWindowEndsTheLink();
    void failingLinks_data();
    void failingLinks();

private:
    Connection makeProfile(const QString &name, const QString &host, const QString &sci = QString());
    void activate(const Connection &profile);
    SessionListWidget *sessionsWindow(const Connection &profile) const;
    SessionModel *model(SessionListWidget *window) const;
    bool waitForLink(SessionListWidget *window);
    QList<QJsonObject> sentRequests(const QString &method) const;
    QString serverDataPath() const;
    void selectSession(SessionListWidget *window, const QString &id);
    QString selectedId(SessionListWidget *window) const;
    void startSession(SessionListWidget *window, const QString &command, const QString &geometry,
                      const QString &bookmarkId = QString());
    void terminateLeftovers();
    int clientsOf(SessionListWidget *window, const QString &id) const;
    static int desktopWindows();
    static void closeDesktopWindows();

    std::unique_ptr<SshdFixture> sshd;
    QTemporaryDir profiles;
    QTemporaryDir settings;
    QString dataHome; // the server side's XDG_DATA_HOME
    std::unique_ptr<ConnectionListWidget> connections;
    Connection first;
    Connection second;
    QStringList startedIds;
    QList<qint64> pollTimes;
};

void TestSessionsFlow::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    // SshDevice hands its own askpass to plink only when none is set.
    qunsetenv("SSH_ASKPASS");
    qputenv("NUVEK_BIN_DIR", QFile::encodeName(nuvekBinDir()));
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
    bookmarks.write(QJsonDocument(QJsonObject{
                        {"bookmarks", QJsonArray{QJsonObject{{"id", "clock-bookmark"}, {"name", "Clock"},
                                                             {"command", "sleep 302"},
                                                             {"geometry", "640x480"}}}},
                        {"history", QJsonArray()}})
                        .toJson());
    bookmarks.close();
    QVERIFY(chownTree(dataHome, account->pw_uid, account->pw_gid));

    // nuvek2_sci on the account's PATH, with that data folder, keeping what it was sent.
    sshd->addProgram("nuvek2_sci", QStringLiteral("#!/bin/sh\n"
                                                  "export XDG_DATA_HOME='%1'\n"
                                                  "tee -a \"%1/requests-$$.log\" | '%2/nuvek2_sci' \"$@\"\n")
                                       .arg(dataHome, nuvekBinDir())
                                       .toUtf8());
    QVERIFY2(sshd->start(&why), qPrintable(why));
    sshd->applyClientEnvironment();

    first = makeProfile("First", sshd->host());
    second = makeProfile("Second", sshd->host(), "nuvek2_sci");
    connections = std::make_unique<ConnectionListWidget>(profiles.path(), QString());
    connections->show();
}

void TestSessionsFlow::cleanupTestCase()
{
    connections.reset();
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses("plink"), 0, 10000);
    if (sshd && sshd->isRunning())
        terminateLeftovers();
    qDeleteAll(visibleErrorBoxes());
    sshd.reset();
}

void TestSessionsFlow::cleanup()
{
    if (QTest::currentTestFailed())
        qWarning("boxes: %s", qPrintable(visibleErrorBoxTexts()));
}

Connection TestSessionsFlow::makeProfile(const QString &name, const QString &host, const QString &sci)
{
    Connection profile;
    profile.setUid(QUuid::createUuid());
    profile.setName(name);
    profile.setHost(host);
    profile.setPort(sshd->port());
    profile.setUser(sshd->user());
    profile.setSci(sci);
    QString error;
    if (!saveConnection(connectionFilePath(profiles.path(), profile.uid()), profile, error))
        qWarning("%s", qPrintable(error));
    return profile;
}

QString TestSessionsFlow::serverDataPath() const
{
    return dataHome + "/Ostrane Rodorivezozoru/Nuvek/server";
}

void TestSessionsFlow::activate(const Connection &profile)
{
    auto *view = connections->findChild<QTableView *>("ConnectionListView");
    QVERIFY(view);
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QModelIndex index = view->model()->index(row, 0);
        if (index.data(Qt::UserRole + 1).toString() == profile.name()
            || index.data().toString().contains(profile.name())) {
            view->setCurrentIndex(index);
            QTest::keyClick(view, Qt::Key_Return);
            return;
        }
    }
    QFAIL("profile not listed");
}

SessionListWidget *TestSessionsFlow::sessionsWindow(const Connection &profile) const
{
    const QString key = ConnectionListWidget::windowKey(profile.uid(), "SessionListWidget");
    SessionListWidget *found = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == key && !found)
            found = qobject_cast<SessionListWidget *>(widget);
    }
    return found;
}

SessionModel *TestSessionsFlow::model(SessionListWidget *window) const
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

QList<QJsonObject> TestSessionsFlow::sentRequests(const QString &method) const
{
    // One file per link, in the order the links were made.
    QList<QJsonObject> requests;
    const QFileInfoList logs =
        QDir(dataHome).entryInfoList({"requests-*.log"}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &log : logs) {
        QFile file(log.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QJsonObject &request : decodeRequests(file.readAll())) {
            if (request.value("method").toString() == method)
                requests << request;
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
            // As a click does: the row becomes current too (the view moves the selection
            // along with the current row when that row goes away).
            view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                               | QItemSelectionModel::Rows);
            return;
        }
    }
    QFAIL(qPrintable("no row for session " + id));
}

QString TestSessionsFlow::selectedId(SessionListWidget *window) const
{
    auto *view = window->findChild<QTableView *>("SessionListView");
    auto *proxy = qobject_cast<QSortFilterProxyModel *>(view->model());
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : model(window)->session(proxy->mapToSource(selected.first()).row()).id;
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
        QAction *picked = nullptr;
        for (QAction *action : dialog->findChild<QMenu *>("BookmarkButtonMenu")->actions()) {
            if (action->data().toString() == bookmarkId)
                picked = action;
        }
        QVERIFY(picked);
        picked->trigger();
    } else {
        dialog->findChild<QLineEdit *>("CommandLineEdit")->setText(command);
        dialog->findChild<WindowModeWidget *>()->setModeOrGeometry(geometry);
    }
    dialog->accept();
    QTRY_VERIFY(!dialog);
}

int TestSessionsFlow::clientsOf(SessionListWidget *window, const QString &id) const
{
    for (const Session &session : model(window)->sessions()) {
        if (session.id == id)
            return session.clients;
    }
    return -1;
}

// Started and connected sessions open their remote desktop in a window of its own.
int TestSessionsFlow::desktopWindows()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<RdpMainWidget *>(widget) && widget->isVisible())
            ++count;
    }
    return count;
}

void TestSessionsFlow::closeDesktopWindows()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<RdpMainWidget *>(widget) && widget->isVisible())
            widget->close();
    }
}

void TestSessionsFlow::terminateLeftovers()
{
    const QStringList ids = terminateServerSessions(*sshd, serverDataPath() + "/sessions");
    if (!ids.isEmpty())
        qWarning("terminated sessions left over: %s", qPrintable(ids.join(' ')));
}

void TestSessionsFlow::oneLinkPerProfile()
{
    activate(first);
    QPointer<SessionListWidget> window = sessionsWindow(first);
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("First (%1)").arg(sshd->host()));
    QVERIFY(window->findChild<OperationStatusDialog *>());
    QVERIFY2(waitForLink(window), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(childProcesses("plink"), 1);
    // The server program was started under its default name, and asked for its version once.
    QCOMPARE(sentRequests("Nuvek.version").size(), 1);

    // Polls every five seconds.
    connect(model(window), &SessionModel::sessionsUpdated, this, [this] {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        pollTimes << clock.elapsed();
    });

    // The SSH log, one entry a line.
    QTest::mouseClick(window->findChild<QPushButton *>("LogButton"), Qt::LeftButton);
    QPointer<QDialog> log = window->findChild<QDialog *>("LogDialog");
    QVERIFY(log);
    QCOMPARE(log->windowTitle(), QStringLiteral("Connection Log"));
    const QStringList lines = log->findChild<QTextBrowser *>()->toPlainText().split('\n');
    QVERIFY2(lines.contains("Access granted"), qPrintable(lines.join('\n')));
    QVERIFY(lines.filter(QRegularExpression("^Connecting to .* port \\d+$")).size() == 1);
    log->close();
    QTRY_VERIFY(!log);

    // Activating the profile again brings the same window forward, over the same link.
    window->showMinimized();
    activate(first);
    QCOMPARE(sessionsWindow(first), window.data());
    QTRY_VERIFY(!window->isMinimized());
    QTest::qWait(500);
    QCOMPARE(childProcesses("plink"), 1);
    QCOMPARE(sentRequests("Nuvek.version").size(), 1);
    QVERIFY(visibleErrorBoxes().isEmpty());
}

void TestSessionsFlow::startSessions()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
    QCOMPARE(model(window)->rowCount(), 0);

    startSession(window, "sleep 300", "800x600");
    startSession(window, "sleep 301", "rootless");
    startSession(window, QString(), QString(), "clock-bookmark");

    // The client makes the ids; the name only goes with the picked bookmark.
    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.start").size(), 3, 10000);
    const QList<QJsonObject> starts = sentRequests("Nuvek.start");
    const QList<QJsonObject> expected{
        QJsonObject{{"command", "sleep 300"}, {"geometry", "800x600"}},
        QJsonObject{{"command", "sleep 301"}, {"geometry", "rootless"}},
        QJsonObject{{"command", "sleep 302"}, {"geometry", "640x480"}, {"name", "Clock"}}};
    for (int i = 0; i < 3; ++i) {
        QJsonObject params = starts.at(i).value("params").toObject();
        const QString id = params.take("id").toString();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(id).hasMatch(), qPrintable(id));
        startedIds << id;
        QCOMPARE(params, expected.at(i));
    }

    // The new rows come with a poll.
    QTRY_COMPARE_WITH_TIMEOUT(model(window)->rowCount(), 3, 30000);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
    QStringList ids;
    for (const Session &session : model(window)->sessions()) {
        ids << session.id;
        if (session.id == startedIds.at(0)) {
            QCOMPARE(session.displayName(), QStringLiteral("sleep 300"));
            QCOMPARE(session.geometry, QStringLiteral("800x600"));
        } else if (session.id == startedIds.at(2)) {
            QCOMPARE(session.displayName(), QStringLiteral("Clock"));
            QCOMPARE(session.command, QStringLiteral("sleep 302"));
        }
        QVERIFY(session.started.isValid());
    }
    // Each started session is connected at once: its desktop opens and the server counts
    // the viewer.
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows(), 3, 30000);
    for (const QString &id : qAsConst(startedIds))
        QTRY_COMPARE_WITH_TIMEOUT(clientsOf(window, id), 1, PollTimeout);
    QStringList sortedIds = startedIds;
    sortedIds.sort();
    QCOMPARE(ids, sortedIds);

    // Polls come at the rhythm of the update timer (measured once no start keeps the
    // server busy, so that the replies come back at once).
    const int seen = pollTimes.size();
    QTRY_VERIFY_WITH_TIMEOUT(pollTimes.size() >= seen + 2, 2 * PollTimeout);
    const qint64 gap = pollTimes.last() - pollTimes.at(pollTimes.size() - 2);
    QVERIFY2(gap >= 4500 && gap <= 5500, qPrintable(QString::number(gap)));
}

void TestSessionsFlow::secondLinkListsTheSameSessions()
{
    activate(second);
    SessionListWidget *window = sessionsWindow(second);
    QVERIFY(window);
    QVERIFY(window != sessionsWindow(first));
    QVERIFY2(waitForLink(window), qPrintable(visibleErrorBoxTexts()));
    QCOMPARE(childProcesses("plink"), 2);
    QTRY_COMPARE_WITH_TIMEOUT(model(window)->sessions(), model(sessionsWindow(first))->sessions(), PollTimeout);
    QCOMPARE(model(window)->rowCount(), 3);
}

void TestSessionsFlow::rename()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
    window->resize(1200, 400);
    const QString id = startedIds.at(0);
    selectSession(window, id);
    auto *editButton = window->findChild<QPushButton *>("EditSessionButton");
    QTRY_VERIFY(editButton->isVisible());
    QTest::mouseClick(editButton, Qt::LeftButton);
    auto *view = window->findChild<QTableView *>("SessionListView");
    QLineEdit *editor = nullptr;
    QTRY_VERIFY((editor = view->viewport()->findChild<QLineEdit *>()) && editor->isVisible());
    QCOMPARE(editor->text(), QStringLiteral("sleep 300"));
    editor->setText("Renamed");
    QTest::keyClick(editor, Qt::Key_Return);

    const auto nameIn = [this, id](SessionListWidget *w) {
        for (const Session &session : model(w)->sessions()) {
            if (session.id == id)
                return session.name;
        }
        return QString();
    };
    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.params").size(), 1, 5000);
    QCOMPARE(sentRequests("Nuvek.params").first().value("params").toObject(),
             QJsonObject({{"id", id}, {"name", "Renamed"}}));
    QTRY_COMPARE_WITH_TIMEOUT(nameIn(window), QStringLiteral("Renamed"), 5000);
    // The other link sees it at its next poll.
    QTRY_COMPARE_WITH_TIMEOUT(nameIn(sessionsWindow(second)), QStringLiteral("Renamed"), PollTimeout);
}

void TestSessionsFlow::disconnectAndConnect()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
    const QString id = startedIds.at(0);
    // The viewer is the desktop window the start opened.
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(window, id), 1, PollTimeout);
    const int windows = desktopWindows();

    selectSession(window, id);
    auto *connectButton = window->findChild<QPushButton *>("ConnectSessionButton");
    auto *disconnectButton = window->findChild<QPushButton *>("DisconnectSessionButton");
    QVERIFY(!connectButton->isEnabled());
    QVERIFY(disconnectButton->isEnabled());
    QTest::mouseClick(disconnectButton, Qt::LeftButton);
    // Done: the list is asked for again at once.
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(window, id), 0, 5000);
    QCOMPARE(sentRequests("Nuvek.disconnect").size(), 1);
    QTRY_VERIFY(connectButton->isEnabled());
    // The server dropped the viewer: its window goes, without a message.
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows(), windows - 1, 10000);

    // Connecting asks the server for the way in; the display engine takes it from there.
    if (selectedId(window) != id) {
        // When another session's row is left out of a poll.
        qWarning("the selection moved from %s to %s", qPrintable(id), qPrintable(selectedId(window)));
        selectSession(window, id);
    }
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sentRequests("Nuvek.connect").size(), 1, 5000);
    const QJsonObject connectRequest = sentRequests("Nuvek.connect").value(0);
    QVERIFY2(connectRequest.value("params").toObject() == QJsonObject({{"id", id}}),
             QJsonDocument(connectRequest).toJson().constData());
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows(), windows, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(clientsOf(window, id), 1, PollTimeout);

    // Closing the desktop windows ends the viewers; the sessions stay.
    closeDesktopWindows();
    QTRY_COMPARE_WITH_TIMEOUT(desktopWindows(), 0, 10000);
    for (const QString &started : qAsConst(startedIds))
        QTRY_COMPARE_WITH_TIMEOUT(clientsOf(window, started), 0, PollTimeout);
    QCOMPARE(model(window)->rowCount(), 3);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

void TestSessionsFlow::serverError()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
    startSession(window, QString(3000, 'x'), "1024x768");
    QTRY_COMPARE_WITH_TIMEOUT(visibleErrorBoxes().size(), 1, 10000);
    QCOMPARE(visibleErrorBoxes().first()->text(),
             QStringLiteral("Failed to start the session.<br><br>The command or the name is too long."));
    qDeleteAll(visibleErrorBoxes());
}

void TestSessionsFlow::terminate()
{
    SessionListWidget *window = sessionsWindow(first);
    QVERIFY(window);
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
        const auto listed = [this, window, id] {
            for (const Session &session : model(window)->sessions()) {
                if (session.id == id)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!listed(), 10000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(model(window)->rowCount(), 0, 10000);
    QCOMPARE(sentRequests("Nuvek.terminate").size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(model(sessionsWindow(second))->rowCount(), 0, PollTimeout);
    QVERIFY(QDir(serverDataPath() + "/sessions").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
}

void TestSessionsFlow::closingTheWindowEndsTheLink()
{
    QPointer<SessionListWidget> window = sessionsWindow(second);
    QVERIFY(window);
    const int links = childProcesses("plink");
    window->close();
    // The link ends cleanly (no box), and the window goes with it.
    QTRY_VERIFY_WITH_TIMEOUT(!window, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(childProcesses("plink"), links - 1, 10000);
    QTest::qWait(300);
    QVERIFY2(visibleErrorBoxes().isEmpty(), qPrintable(visibleErrorBoxTexts()));
    // Activating the profile again opens a new link.
    activate(second);
    QVERIFY(sessionsWindow(second));
    QVERIFY(waitForLink(sessionsWindow(second)));
    sessionsWindow(second)->close();
    QTRY_VERIFY_WITH_TIMEOUT(!sessionsWindow(second), 10000);
}

void TestSessionsFlow::failingLinks_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("sci");
    QTest::addColumn<bool>("wrongPassword");
    QTest::addColumn<QString>("message");
    const QString user = sshd ? sshd->user() : QString();
    QTest::newRow("wrong password") << "127.0.0.1" << "" << true
                                    << QStringLiteral("Unable to authenticate the user \"%1\".").arg(user);
    QTest::newRow("unknown host") << "no-such-host.invalid" << "" << false
                                  << "The host \"no-such-host.invalid\" was not recognized. Make sure the hostname "
                                     "is correct.";
    QTest::newRow("missing program") << "127.0.0.1" << "nuvek-no-such-program" << false
                                     << QStringLiteral("Unable to contact the server. Check that the server is "
                                                       "properly installed and that the SCI is accessible to the "
                                                       "user \"%1\".")
                                            .arg(user);
}

void TestSessionsFlow::failingLinks()
{
    QFETCH(QString, host);
    QFETCH(QString, sci);
    QFETCH(bool, wrongPassword);
    QFETCH(QString, message);
    qDeleteAll(visibleErrorBoxes());
    if (wrongPassword)
        sshd->removeClientKey();
    auto restoreKey = qScopeGuard([&] {
        if (wrongPassword)
            sshd->installClientKey();
    });

    const Connection profile = makeProfile(QTest::currentDataTag(), host, sci);
    connections->openConnection(profile);
    QPointer<SessionListWidget> window = sessionsWindow(profile);
    QVERIFY(window);
    if (wrongPassword) {
        // Every password question gets a wrong answer until the server gives up.
        QElapsedTimer timer;
        timer.start();
        while (window && timer.elapsed() < LinkTimeout) {
            auto *dialog = window->findChild<OperationStatusDialog *>();
            auto *pages = dialog ? dialog->findChild<QStackedWidget *>("StackedWidget") : nullptr;
            if (pages && pages->currentIndex() == OperationStatusDialog::AnswerPage
                && dialog->findChild<QLineEdit *>("AnswerLineEdit")->text().isEmpty()) {
                dialog->findChild<QLineEdit *>("AnswerLineEdit")->setText("wrong password");
                for (QAbstractButton *button : dialog->findChild<QDialogButtonBox *>("ButtonBox")->buttons()) {
                    if (button->text() == QLatin1String("Continue"))
                        button->click();
                }
            }
            QTest::qWait(50);
        }
    }
    // The window goes with the link, and the box says why.
    QTRY_VERIFY_WITH_TIMEOUT(!window, LinkTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(visibleErrorBoxes().size(), 1, 5000);
    QMessageBox *box = visibleErrorBoxes().first();
    QVERIFY2(box->text() == "There was a problem with the connection.<br><br>" + message,
             qPrintable(box->text() + "\n" + box->detailedText()));
    QVERIFY(!box->detailedText().isEmpty());
    qDeleteAll(visibleErrorBoxes());
}

QTEST_MAIN(TestSessionsFlow)
#include "tst_sessionsflow.moc"
