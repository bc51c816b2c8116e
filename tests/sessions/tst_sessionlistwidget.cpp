#include "sessions/sessionlistwidget.h"
#include "sessions/sessionmodel.h"
#include "sessions/servermethods.h"
#include "support/fakelink.h"
#include "support/testsupport.h"

#include <QJsonArray>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QtTest>

// The Sessions window against a fake server program: odd replies to its calls, and calls
// that outlive what made them.
class TestSessionListWidget : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        link = std::make_unique<FakeLink>();
        window = std::make_unique<SessionListWidget>(&link->handler);
        window->show();
        // Authenticated link, version answered, one poll answered: "a" has no viewer, "c" one.
        window->startUpdating();
        for (const QJsonObject &request : link->server.takeRequests()) {
            const auto session = [](const QString &id, int clients) {
                return QJsonObject{{"id", id}, {"command", "xterm " + id}, {"clients", clients}, {"started", "2024-01-02T10:00:00"}};
            };
            link->server.replyResult(request.value("id").toString(),
                                     request.value("method") == "Nuvek.version" ? QJsonValue(QJsonObject{{"version", "2"}})
                                                                               : QJsonArray{session("a", 0), session("c", 1)});
        }
    }

    void cleanup()
    {
        window.reset();
        link.reset();
        qDeleteAll(visibleErrorBoxes());
    }

    void changeReplies_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("isError");
        QTest::addColumn<QJsonValue>("reply");
        QTest::addColumn<bool>("refreshed");
        QTest::addColumn<QString>("boxText");
        QTest::newRow("disconnect done") << "c" << false << QJsonValue(QJsonObject()) << true << "";
        QTest::newRow("disconnect result not an object") << "c" << false << QJsonValue(true) << false << "";
        QTest::newRow("disconnect error") << "c" << true << QJsonValue(QJsonObject{{"message", "gone"}}) << false
                                          << "Failed to disconnect the session.<br><br>gone";
        QTest::newRow("connect error without message") << "a" << true << QJsonValue(QJsonObject{{"code", 1}}) << false
                                                       << "Failed to connect to the session.<br><br>";
        QTest::newRow("connect error not an object") << "a" << true << QJsonValue("bad") << false << "";
        // Without a real SSH link the reply opens nothing, and refreshes nothing.
        QTest::newRow("connect done") << "a" << false << QJsonValue(QJsonObject{{"port", 3389}}) << false << "";
    }

    void changeReplies()
    {
        QFETCH(QString, id);
        QFETCH(bool, isError);
        QFETCH(QJsonValue, reply);
        QFETCH(bool, refreshed);
        QFETCH(QString, boxText);
        select(id);
        // Both slots run, even for a disabled button: only the fitting call goes out.
        QMetaObject::invokeMethod(window.get(), "on_ConnectSessionButton_clicked");
        QMetaObject::invokeMethod(window.get(), "on_DisconnectSessionButton_clicked");
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().value("params").toObject(), QJsonObject({{"id", id}}));
        const QString callId = requests.first().value("id").toString();
        isError ? link->server.replyError(callId, reply) : link->server.replyResult(callId, reply);
        QCOMPARE(link->server.takeRequests().size(), refreshed ? 1 : 0);
        QCOMPARE(visibleErrorBoxTexts(), boxText.isEmpty() ? QString() : boxText + '\n');
    }

    void lateReplyAfterWindowIsGone()
    {
        select("c");
        QMetaObject::invokeMethod(window.get(), "on_DisconnectSessionButton_clicked");
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        window.reset();
        QVERIFY(link->handler.pendingIds().isEmpty());
        link->server.replyError(requests.first().value("id").toString(), QJsonObject{{"message", "late"}});
        QVERIFY(visibleErrorBoxes().isEmpty());
    }

    // A start that failed with a log: the box waits for the log and shows it as details.
    void startFailureFetchesLog_data()
    {
        QTest::addColumn<QJsonValue>("result");
        QTest::addColumn<QString>("details");
        QTest::newRow("log") << QJsonValue(QJsonObject{{"contents", "line 1\nline 2"}}) << "line 1\nline 2";
        QTest::newRow("no contents") << QJsonValue(QJsonObject{}) << "";
        QTest::newRow("not an object") << QJsonValue("x") << "";
    }

    void startFailureFetchesLog()
    {
        QFETCH(QJsonValue, result);
        reportStartFailure(&link->handler, QJsonObject{{"message", "Exited"}, {"id", 7}, {"log", "startup.log"}},
                           "Failed to start the session.");
        const QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].value("params").toObject(), (QJsonObject{{"id", 7}, {"log", "startup.log"}}));
        QVERIFY(visibleErrorBoxes().isEmpty());
        link->server.replyResult(requests[0].value("id").toString(), result);
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes()[0]->text(), QString("Failed to start the session.<br><br>Exited"));
        QTEST(visibleErrorBoxes()[0]->detailedText(), "details");
    }

private:
    void select(const QString &id)
    {
        auto *view = window->findChild<QTableView *>("SessionListView");
        const auto *proxy = qobject_cast<const QSortFilterProxyModel *>(view->model());
        const auto *model = window->findChild<const SessionModel *>("SessionListModel");
        for (int row = 0; row < proxy->rowCount(); ++row) {
            if (model->session(proxy->mapToSource(proxy->index(row, 0)).row()).id == id)
                view->selectionModel()->select(proxy->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    }

    std::unique_ptr<FakeLink> link;
    std::unique_ptr<SessionListWidget> window;
};

QTEST_MAIN(TestSessionListWidget)
#include "tst_sessionlistwidget.moc"
