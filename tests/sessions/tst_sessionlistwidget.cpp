#include "app/logdialog.h"
#include "link/questiondialog.h"
#include "sessions/bookmarkdialog.h"
#include "sessions/sessionlistwidget.h"
#include "sessions/sessionmodel.h"
#include "sessions/startsessiondialog.h"
#include "support/errorboxes.h"
#include "support/fakelink.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

QJsonObject sessionJson(const QString &id, const QString &name, const QString &command, int clients,
                        const QString &started)
{
    return QJsonObject{{"id", id},
                       {"command", command},
                       {"params", QJsonObject{{"name", name}}},
                       {"geometry", "1024x768"},
                       {"clients", clients},
                       {"started", started}};
}

// Three sessions; by start time: b, a, c.
QJsonArray threeSessions()
{
    return QJsonArray{sessionJson("a", "Work", "xterm", 0, "2024-01-02T10:00:00"),
                      sessionJson("b", "", "xclock", 2, "2024-01-01T10:00:00"),
                      sessionJson("c", "Mail", "thunderbird", 1, "2024-01-03T10:00:00")};
}

QStringList methods(const QList<QJsonObject> &requests)
{
    QStringList names;
    for (const QJsonObject &request : requests)
        names << request.value("method").toString();
    return names;
}

} // namespace

class TestSessionListWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
        QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    }

    void init()
    {
        link.reset(new FakeLink);
        window.reset(new SessionListWidget(&link->handler));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        view = window->findChild<QTableView *>("SessionListView");
        QVERIFY(view);
    }

    void cleanup()
    {
        window.reset();
        link.reset();
        qDeleteAll(visibleErrorBoxes());
    }

    void versionOnceAndPolling()
    {
        // Nothing goes to the server before the link has authenticated.
        QVERIFY(link->server.takeRequests().isEmpty());
        QSignalSpy gotVersion(window.get(), &SessionListWidget::gotVersion);
        window->startUpdating();
        window->startUpdating();
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(methods(requests), (QStringList{"Nuvek.version", "Nuvek.list"}));
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject());
        QCOMPARE(gotVersion.count(), 0);
        // Even an error answers the version call.
        link->server.replyError(requests.first().value("id").toString(),
                                QJsonObject{{"code", -32601}, {"message", "no such method"}});
        QCOMPARE(gotVersion.count(), 1);
        QVERIFY(visibleErrorBoxes().isEmpty());
    }

    void rowsSortedByStartTime()
    {
        populate();
        QCOMPARE(view->model()->rowCount(), 3);
        QStringList names;
        for (int row = 0; row < 3; ++row)
            names << view->model()->index(row, 0).data().toString();
        QCOMPARE(names, (QStringList{"xclock", "Work", "Mail"}));
        QCOMPARE(view->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
        QCOMPARE(view->horizontalHeader()->sectionResizeMode(3), QHeaderView::ResizeToContents);
    }

    void rowButtons_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("connectEnabled");
        QTest::addColumn<QString>("connectTitle");
        QTest::newRow("disconnected") << "a" << true << "Work";
        QTest::newRow("connected, no name") << "b" << false << "";
        QTest::newRow("connected") << "c" << false << "";
    }

    void rowButtons()
    {
        QFETCH(QString, id);
        QFETCH(bool, connectEnabled);
        populate();
        selectSession(id);

        auto *connectButton = window->findChild<QPushButton *>("ConnectSessionButton");
        auto *disconnectButton = window->findChild<QPushButton *>("DisconnectSessionButton");
        auto *terminateButton = window->findChild<QPushButton *>("TerminateSessionButton");
        QVERIFY(connectButton->isVisible());
        QVERIFY(disconnectButton->isVisible());
        QVERIFY(terminateButton->isVisible());
        QCOMPARE(connectButton->isEnabled(), connectEnabled);
        QCOMPARE(disconnectButton->isEnabled(), !connectEnabled);
        QCOMPARE(connectButton->size(), QSize(21, 21));
        // The buttons sit over the button columns of the selected row.
        const QModelIndex selected = view->selectionModel()->selectedIndexes().first();
        QVERIFY(view->visualRect(selected.siblingAtColumn(1)).contains(connectButton->geometry()));
        QVERIFY(view->visualRect(selected.siblingAtColumn(1)).contains(disconnectButton->geometry()));
        QVERIFY(view->visualRect(selected.siblingAtColumn(5)).contains(terminateButton->geometry()));

        // Clicked even when disabled (the slot checks for itself): only the fitting call goes out.
        QMetaObject::invokeMethod(window.get(), "on_ConnectSessionButton_clicked");
        QMetaObject::invokeMethod(window.get(), "on_DisconnectSessionButton_clicked");
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("method").toString(),
                 QString(connectEnabled ? "Nuvek.connect" : "Nuvek.disconnect"));
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"id", id}}));
    }

    // Rows are re-sorted after each poll; the selection, and the buttons, stay with the
    // session, also among sessions started in the same second.
    void selectionFollowsItsSession()
    {
        const QString when = "2024-01-02T10:00:00";
        QJsonArray sessions{sessionJson("m", "", "sleep 300", 0, when)};
        populate(sessions);
        selectSession("m");
        sessions.append(sessionJson("b", "", "sleep 301", 0, when));
        sessions.append(sessionJson("a", "", "sleep 302", 1, "2024-01-01T10:00:00"));
        poll(sessions);
        for (int clients : {1, 0}) {
            sessions[0] = sessionJson("m", "Renamed", "sleep 300", clients, when);
            poll(sessions);
            QCOMPARE(selectedIndex().siblingAtColumn(0).data().toString(), QStringLiteral("Renamed"));
            QCOMPARE(window->findChild<QPushButton *>("ConnectSessionButton")->isEnabled(), clients == 0);
            QVERIFY(view->visualRect(selectedIndex().siblingAtColumn(1))
                        .contains(window->findChild<QPushButton *>("ConnectSessionButton")->geometry()));
        }
    }

    void noSelectionHidesButtons()
    {
        populate();
        selectSession("a");
        view->clearSelection();
        for (const char *name : {"ConnectSessionButton", "DisconnectSessionButton", "EditSessionButton",
                                 "TerminateSessionButton"})
            QVERIFY2(!window->findChild<QPushButton *>(name)->isVisible(), name);
        QMetaObject::invokeMethod(window.get(), "on_ConnectSessionButton_clicked");
        QMetaObject::invokeMethod(window.get(), "on_TerminateSessionButton_clicked");
        QVERIFY(link->server.takeRequests().isEmpty());
        QVERIFY(!window->findChild<QuestionDialog *>());
    }

    void activation()
    {
        populate();
        // A session with clients: nothing is sent.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCenter("b", 2));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cellCenter("b", 2));
        QVERIFY(link->server.takeRequests().isEmpty());
        // A disconnected one, on its "Started" cell.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCenter("a", 2));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cellCenter("a", 2));
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(methods(requests), QStringList{"Nuvek.connect"});
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"id", "a"}}));
    }

    void changeReplies_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<bool>("isError");
        QTest::addColumn<QJsonValue>("reply");
        QTest::addColumn<bool>("refreshed");
        QTest::addColumn<QString>("boxText");
        QTest::newRow("disconnect done") << "c" << "on_DisconnectSessionButton_clicked" << false
                                         << QJsonValue(QJsonObject()) << true << "";
        QTest::newRow("disconnect result not an object") << "c" << "on_DisconnectSessionButton_clicked" << false
                                                         << QJsonValue(true) << false << "";
        QTest::newRow("disconnect error") << "c" << "on_DisconnectSessionButton_clicked" << true
                                          << QJsonValue(QJsonObject{{"message", "gone"}}) << false
                                          << "Failed to disconnect the session.<br><br>gone";
        QTest::newRow("connect error without message") << "a" << "on_ConnectSessionButton_clicked" << true
                                                       << QJsonValue(QJsonObject{{"code", 1}}) << false
                                                       << "Failed to connect to the session.<br><br>";
        QTest::newRow("connect error not an object") << "a" << "on_ConnectSessionButton_clicked" << true
                                                     << QJsonValue("bad") << false << "";
        // Without a real SSH link the reply opens nothing, and refreshes nothing.
        QTest::newRow("connect done") << "a" << "on_ConnectSessionButton_clicked" << false
                                      << QJsonValue(QJsonObject{{"port", 3389}}) << false << "";
    }

    void changeReplies()
    {
        QFETCH(QString, id);
        QFETCH(QString, slot);
        QFETCH(bool, isError);
        QFETCH(QJsonValue, reply);
        QFETCH(bool, refreshed);
        QFETCH(QString, boxText);
        populate();
        selectSession(id);
        QMetaObject::invokeMethod(window.get(), slot.toLatin1().constData());
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        const QString callId = requests.first().value("id").toString();
        if (isError)
            link->server.replyError(callId, reply);
        else
            link->server.replyResult(callId, reply);
        QCOMPARE(methods(link->server.takeRequests()), refreshed ? QStringList{"Nuvek.list"} : QStringList());
        const QList<QMessageBox *> boxes = visibleErrorBoxes();
        QCOMPARE(boxes.size(), boxText.isEmpty() ? 0 : 1);
        if (!boxText.isEmpty())
            QCOMPARE(boxes.first()->text(), boxText);
    }

    void terminateAsksFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("sent");
        QTest::newRow("terminate") << "Terminate" << true;
        QTest::newRow("keep") << "Keep" << false;
    }

    void terminateAsksFirst()
    {
        QFETCH(QString, answer);
        QFETCH(bool, sent);
        populate();
        selectSession("b");
        QTest::mouseClick(window->findChild<QPushButton *>("TerminateSessionButton"), Qt::LeftButton);
        QPointer<QuestionDialog> dialog = window->findChild<QuestionDialog *>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(dialog->findChild<QLabel *>("QuestionLabel")->text(), QStringLiteral("Terminate \"xclock\"?"));
        QVERIFY(link->server.takeRequests().isEmpty());

        // The id is the one of the row asked about, even if the selection moves meanwhile.
        selectSession("a");
        QPushButton *button = nullptr;
        for (QAbstractButton *candidate : dialog->findChild<QDialogButtonBox *>()->buttons()) {
            if (candidate->text() == answer)
                button = qobject_cast<QPushButton *>(candidate);
        }
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(!dialog);

        const QList<QJsonObject> requests = link->server.takeRequests();
        if (!sent) {
            QVERIFY(requests.isEmpty());
            return;
        }
        QCOMPARE(methods(requests), QStringList{"Nuvek.terminate"});
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"id", "b"}}));
        link->server.replyError(requests.first().value("id").toString(), QJsonObject{{"message", "busy"}});
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes().first()->text(), QStringLiteral("Failed to terminate the session.<br><br>busy"));
    }

    void rename()
    {
        window->resize(1000, 300);
        populate();
        selectSession("b");
        auto *editButton = window->findChild<QPushButton *>("EditSessionButton");
        QVERIFY(editButton->isVisible());
        QTest::mouseClick(editButton, Qt::LeftButton);
        auto *editor = view->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        QTRY_VERIFY(editor->isVisible());
        // Without a name the editor starts from the command.
        QCOMPARE(editor->text(), QStringLiteral("xclock"));
        editor->setText(QStringLiteral("Clock"));
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits on its next turn.
        QList<QJsonObject> requests;
        QTRY_VERIFY((requests += link->server.takeRequests()).size() >= 2);
        QCOMPARE(methods(requests), (QStringList{"Nuvek.params", "Nuvek.list"}));
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"id", "b"}, {"name", "Clock"}}));
    }

    void editButtonHiddenForLongNames()
    {
        window->resize(1000, 300);
        populate();
        selectSession("a");
        auto *editButton = window->findChild<QPushButton *>("EditSessionButton");
        QVERIFY(editButton->isVisible());
        QVERIFY(editButton->geometry().right() <= view->visualRect(selectedIndex().siblingAtColumn(0)).right() - 4);

        QJsonArray sessions = threeSessions();
        sessions[0] = sessionJson("a", QString(200, 'W'), "xterm", 0, "2024-01-02T10:00:00");
        poll(sessions);
        QVERIFY(!editButton->isVisible());
        QVERIFY(window->findChild<QPushButton *>("ConnectSessionButton")->isVisible());

        poll(threeSessions());
        QVERIFY(editButton->isVisible());
    }

    void headerButtonColumnsDoNotSort_data()
    {
        QTest::addColumn<int>("section");
        QTest::addColumn<bool>("sorts");
        QTest::newRow("name") << 0 << true;
        QTest::newRow("buttons 1") << 1 << false;
        QTest::newRow("last connect") << 3 << true;
        QTest::newRow("buttons 5") << 5 << false;
    }

    void headerButtonColumnsDoNotSort()
    {
        QFETCH(int, section);
        QFETCH(bool, sorts);
        populate();
        QHeaderView *header = view->horizontalHeader();
        const QPoint point(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                           header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, point);
        QCOMPARE(header->sortIndicatorSection() == section, sorts);
        QCOMPARE(header->sortIndicatorSection() == 2, !sorts);
    }

    void startSession_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QJsonObject>("error");
        QTest::addColumn<QStringList>("followUp");
        QTest::addColumn<QString>("boxText");
        QTest::newRow("started") << "xterm -ls" << QJsonObject() << QStringList() << "";
        QTest::newRow("error") << "xterm" << QJsonObject{{"message", "no display"}} << QStringList()
                               << "Failed to start the session.<br><br>no display";
        QTest::newRow("error with a log") << "xterm" << QJsonObject{{"message", "died"}, {"id", "x"}, {"log", "l"}}
                                          << QStringList{"Nuvek.log"} << "";
    }

    void startSession()
    {
        QFETCH(QString, command);
        QFETCH(QJsonObject, error);
        QFETCH(QStringList, followUp);
        QFETCH(QString, boxText);
        populate();
        QTest::mouseClick(window->findChild<QPushButton *>("NewSessionButton"), Qt::LeftButton);
        QPointer<StartSessionDialog> dialog = window->findChild<StartSessionDialog *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(methods(link->server.takeRequests()), QStringList{"Nuvek.bookmark"});
        dialog->findChild<QLineEdit *>("CommandLineEdit")->setText(command);
        dialog->accept();
        QTRY_VERIFY(!dialog);

        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(methods(requests), QStringList{"Nuvek.start"});
        const QJsonObject params = requests.first().value("params").toObject();
        QCOMPARE(params.value("command").toString(), command);
        QVERIFY(!params.contains("name"));
        QVERIFY(!params.value("geometry").toString().isEmpty());
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(params.value("id").toString()).hasMatch());

        const QString callId = requests.first().value("id").toString();
        if (error.isEmpty())
            link->server.replyResult(callId, QJsonObject{{"port", 3389}, {"password", "p"}});
        else
            link->server.replyError(callId, error);
        QCOMPARE(methods(link->server.takeRequests()), followUp);
        const QList<QMessageBox *> boxes = visibleErrorBoxes();
        QCOMPARE(boxes.size(), boxText.isEmpty() ? 0 : 1);
        if (!boxText.isEmpty())
            QCOMPARE(boxes.first()->text(), boxText);
    }

    void logAndBookmarkDialogs()
    {
        QTest::mouseClick(window->findChild<QPushButton *>("LogButton"), Qt::LeftButton);
        QPointer<LogDialog> log = window->findChild<LogDialog *>();
        QVERIFY(log);
        QCOMPARE(log->windowTitle(), QStringLiteral("Connection Log"));
        QCOMPARE(log->windowModality(), Qt::WindowModal);
        QVERIFY(log->testAttribute(Qt::WA_DeleteOnClose));
        log->close();
        QTRY_VERIFY(!log);

        QTest::mouseClick(window->findChild<QPushButton *>("BookmarkButton"), Qt::LeftButton);
        QPointer<BookmarkDialog> bookmarks = window->findChild<BookmarkDialog *>();
        QVERIFY(bookmarks);
        QCOMPARE(bookmarks->windowModality(), Qt::WindowModal);
        QVERIFY(methods(link->server.takeRequests()).contains("Nuvek.bookmark"));
        // A closed bookmark dialog goes away, and stops asking the server.
        bookmarks->close();
        QTRY_VERIFY(!bookmarks);
    }

    void lostLink()
    {
        populate();
        selectSession("a");
        window.reset();
        window.reset(new SessionListWidget(&link->handler));
        link.reset();
        // Every button still reacts, but without a link nothing happens.
        window->startUpdating();
        QMetaObject::invokeMethod(window.get(), "on_ConnectSessionButton_clicked");
        QMetaObject::invokeMethod(window.get(), "on_LogButton_clicked");
        QVERIFY(window->findChild<LogDialog *>());
        window->close();
    }

    void lateReplyAfterWindowIsGone()
    {
        populate();
        selectSession("c");
        QMetaObject::invokeMethod(window.get(), "on_DisconnectSessionButton_clicked");
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        window.reset();
        QVERIFY(link->handler.pendingIds().isEmpty());
        link->server.replyError(requests.first().value("id").toString(), QJsonObject{{"message", "late"}});
        QVERIFY(visibleErrorBoxes().isEmpty());
    }

    void closingClosesTheLink()
    {
        QCOMPARE(link->device.closeCount(), 0);
        window->close();
        QCOMPARE(link->device.closeCount(), 1);
    }

    void rdpFinished_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "";
        QTest::newRow("1") << 1 << "";
        QTest::newRow("131") << 131 << "There was a problem connecting to the session.<br><br>"
                                       "Make sure it is still running and that SSH tunneling is enabled.";
        QTest::newRow("other") << 2 << "Oops! We are not sure what happened here.<br><br>"
                                       "Please contact Ostrane Rodorivezozoru support if this happens again.";
    }

    void rdpFinished()
    {
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QPointer<QMessageBox> box = SessionListWidget::reportRdpFinished(exitCode);
        QCOMPARE(bool(box), !text.isEmpty());
        QCOMPARE(visibleErrorBoxes().size(), text.isEmpty() ? 0 : 1);
        if (box) {
            QCOMPARE(box->text(), text);
            QCOMPARE(box->windowTitle(), QStringLiteral("Nuvek Error"));
            QVERIFY(!box->isModal());
        }
    }

private:
    // Authenticated link, version answered, one poll answered with `sessions`.
    void populate(const QJsonArray &sessions = threeSessions())
    {
        window->startUpdating();
        for (const QJsonObject &request : link->server.takeRequests()) {
            if (request.value("method") == "Nuvek.version")
                link->server.replyResult(request.value("id").toString(), QJsonObject{{"version", "2"}});
            else
                link->server.replyResult(request.value("id").toString(), sessions);
        }
        QCOMPARE(view->model()->rowCount(), sessions.size());
    }

    // The next poll, answered with `sessions`.
    void poll(const QJsonArray &sessions)
    {
        window->findChild<SessionModel *>("SessionListModel")->forceUpdate();
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(methods(requests), QStringList{"Nuvek.list"});
        link->server.replyResult(requests.first().value("id").toString(), sessions);
    }

    QModelIndex indexOf(const QString &id, int column) const
    {
        const auto *proxy = qobject_cast<const QSortFilterProxyModel *>(view->model());
        const auto *model = window->findChild<const SessionModel *>("SessionListModel");
        for (int row = 0; row < proxy->rowCount(); ++row) {
            const QModelIndex index = proxy->index(row, column);
            if (model->session(proxy->mapToSource(index).row()).id == id)
                return index;
        }
        return QModelIndex();
    }

    void selectSession(const QString &id)
    {
        const QModelIndex index = indexOf(id, 0);
        QVERIFY(index.isValid());
        view->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    QModelIndex selectedIndex() const { return view->selectionModel()->selectedIndexes().value(0); }

    QPoint cellCenter(const QString &id, int column) const
    {
        return view->visualRect(indexOf(id, column)).center();
    }

    std::unique_ptr<FakeLink> link;
    std::unique_ptr<SessionListWidget> window;
    QTableView *view = nullptr;
};

QTEST_MAIN(TestSessionListWidget)
#include "tst_sessionlistwidget.moc"
