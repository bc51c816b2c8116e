#include "link/jsonrpchandler.h"
#include "sessions/pendingcalls.h"
#include "sessions/servermethods.h"
#include "support/duplexdevice.h"
#include "support/errorboxes.h"

#include <QApplication>
#include <QJsonDocument>
#include <QMessageBox>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

class TestServerMethods : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QCoreApplication::setApplicationName("Nuvek");
        device.reset(new DuplexDevice);
        server.reset(new FakeRpcServer(device.get()));
        handler.reset(new JsonRpcHandler(device.get(), nullptr));
        server->sendMarker();
    }

    void cleanup()
    {
        for (QMessageBox *box : visibleErrorBoxes())
            delete box;
        handler.reset();
        server.reset();
        device.reset();
    }

    void params_data()
    {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("rename") << renameParams("s1", "Work") << QByteArray(R"({"id":"s1","name":"Work"})");
        QTest::newRow("rename to nothing") << renameParams("s1", "") << QByteArray(R"({"id":"s1","name":""})");
        QTest::newRow("start") << startParams("s2", "xterm", "800x600", "Mine")
                               << QByteArray(R"({"command":"xterm","geometry":"800x600","id":"s2","name":"Mine"})");
        QTest::newRow("start without name or geometry")
            << startParams("s2", "xterm -fg red", "", "")
            << QByteArray(R"({"command":"xterm -fg red","geometry":"1024x768","id":"s2"})");
        QTest::newRow("start rootless") << startParams("s3", "gedit", "rootless", "")
                                        << QByteArray(R"({"command":"gedit","geometry":"rootless","id":"s3"})");
        QTest::newRow("session") << sessionParams("s4") << QByteArray(R"({"id":"s4"})");
        QTest::newRow("bookmark list") << bookmarkListParams() << QByteArray(R"({"op":"list"})");
        QTest::newRow("bookmark add") << bookmarkEditParams("", "N", "C", "G")
                                      << QByteArray(R"({"command":"C","geometry":"G","name":"N","op":"edit"})");
        QTest::newRow("bookmark change") << bookmarkEditParams("b1", "N", "C", "")
                                         << QByteArray(R"({"command":"C","geometry":"","id":"b1","name":"N","op":"edit"})");
        QTest::newRow("bookmark delete") << bookmarkDeleteParams("b1") << QByteArray(R"({"id":"b1","op":"delete"})");
        // Whatever the start error carried is passed back unchanged.
        QTest::newRow("log") << logParams(QJsonObject{{"id", 12}, {"log", QJsonObject{{"f", "x"}}},
                                                      {"message", "m"}})
                             << QByteArray(R"({"id":12,"log":{"f":"x"}})");
    }

    void params()
    {
        QFETCH(QJsonObject, params);
        QFETCH(QByteArray, json);
        QCOMPARE(compact(params), json);
    }

    void typedMembers()
    {
        const QJsonObject object{{"s", "text"}, {"n", 42}, {"f", 2.9}, {"b", true}, {"a", QJsonArray{1}},
                                 {"o", QJsonObject{{"k", 1}}}, {"huge", 1e20}, {"neg", -5}};
        QCOMPARE(jsonString(object, "s"), QString("text"));
        QCOMPARE(jsonString(object, "n"), QString());
        QCOMPARE(jsonString(object, "missing"), QString());
        QCOMPARE(jsonInt(object, "n"), 42);
        QCOMPARE(jsonInt(object, "f"), 2);
        QCOMPARE(jsonInt(object, "s"), 0);
        QCOMPARE(jsonInt(object, "b"), 0);
        QCOMPARE(jsonInt(object, "huge"), 0);
        QCOMPARE(jsonInt(object, "neg"), -5);
        QCOMPARE(jsonBool(object, "b"), true);
        QCOMPARE(jsonBool(object, "n"), false);
        QCOMPARE(jsonArray(object, "a").size(), 1);
        QVERIFY(jsonArray(object, "o").isEmpty());
        QCOMPARE(jsonObject(object, "o").value("k").toInt(), 1);
        QVERIFY(jsonObject(object, "a").isEmpty());
    }

    void connectReply_data()
    {
        QTest::addColumn<QJsonObject>("result");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<bool>("rootless");
        QTest::newRow("complete") << QJsonObject{{"port", 3390}, {"password", "pw"}, {"geometry", "800x600"},
                                                 {"windowMode", "rootless"}}
                                  << 3390 << "pw" << "800x600" << true;
        QTest::newRow("port wraps") << QJsonObject{{"port", 65536 + 3390}} << 3390 << "" << "" << false;
        QTest::newRow("port as string") << QJsonObject{{"port", "3390"}, {"password", 5}} << 0 << "" << ""
                                        << false;
        QTest::newRow("port out of range") << QJsonObject{{"port", 1e12}} << 0 << "" << "" << false;
        QTest::newRow("desktop") << QJsonObject{{"port", 3391}, {"windowMode", "desktop"}} << 3391 << ""
                                 << "" << false;
        QTest::newRow("empty") << QJsonObject() << 0 << "" << "" << false;
    }

    void connectReply()
    {
        QFETCH(QJsonObject, result);
        const ConnectReply reply = ConnectReply::fromResult(result);
        QTEST(int(reply.port), "port");
        QTEST(reply.password, "password");
        QTEST(reply.geometry, "geometry");
        QTEST(reply.isRootless(), "rootless");
    }

    void checkReply_data()
    {
        QTest::addColumn<QJsonValue>("result");
        QTest::addColumn<QJsonValue>("error");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("boxText"); // empty: no box
        const int object = QJsonValue::Object, array = QJsonValue::Array;
        const QString failure = "Failed to disconnect the session.";
        QTest::newRow("success") << QJsonValue(QJsonObject()) << QJsonValue() << object << true << "";
        QTest::newRow("success despite error") << QJsonValue(QJsonObject())
                                               << QJsonValue(QJsonObject{{"message", "x"}}) << object << true << "";
        QTest::newRow("list success") << QJsonValue(QJsonArray()) << QJsonValue() << array << true << "";
        QTest::newRow("result true, no error") << QJsonValue(true) << QJsonValue() << object << false << "";
        QTest::newRow("error string") << QJsonValue() << QJsonValue("bad") << object << false << "";
        QTest::newRow("error with message") << QJsonValue() << QJsonValue(QJsonObject{{"message", "No such session"}})
                                            << object << false << failure + "<br><br>No such session";
        QTest::newRow("error without message") << QJsonValue() << QJsonValue(QJsonObject{{"code", 1}}) << object
                                               << false << failure + "<br><br>";
        QTest::newRow("message not a string") << QJsonValue(QJsonArray())
                                              << QJsonValue(QJsonObject{{"message", 3}}) << object << false
                                              << failure + "<br><br>";
    }

    void checkReply()
    {
        QFETCH(QJsonValue, result);
        QFETCH(QJsonValue, error);
        QFETCH(int, expected);
        QFETCH(QString, boxText);
        QTEST(::checkReply(result, error, QJsonValue::Type(expected), "Failed to disconnect the session."),
              "success");
        const QList<QMessageBox *> boxes = visibleErrorBoxes();
        if (boxText.isEmpty()) {
            QVERIFY(boxes.isEmpty());
            return;
        }
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->text(), boxText);
        QCOMPARE(boxes[0]->windowTitle(), QString("Nuvek Error"));
        QCOMPARE(boxes[0]->icon(), QMessageBox::Warning);
        QVERIFY(boxes[0]->parent() == nullptr);
    }

    void startFailureWithoutLog()
    {
        reportStartFailure(handler.get(), QJsonObject{{"message", "No display"}, {"id", "s"}},
                           "Failed to start the session.");
        QVERIFY(server->takeRequests().isEmpty());
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes()[0]->text(), QString("Failed to start the session.<br><br>No display"));

        reportStartFailure(handler.get(), QJsonValue("not an object"), "Failed to start the session.");
        QCOMPARE(visibleErrorBoxes().size(), 1);
    }

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
        QFETCH(QString, details);
        reportStartFailure(handler.get(),
                           QJsonObject{{"message", "Exited"}, {"id", 7}, {"log", "startup.log"}},
                           "Failed to start the session.");
        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].value("method").toString(), QString("Nuvek.log"));
        QCOMPARE(requests[0].value("params").toObject(), (QJsonObject{{"id", 7}, {"log", "startup.log"}}));
        QVERIFY(visibleErrorBoxes().isEmpty()); // not before the log is there

        server->replyResult(requests[0].value("id").toString(), result);
        QCOMPARE(visibleErrorBoxes().size(), 1);
        QCOMPARE(visibleErrorBoxes()[0]->text(), QString("Failed to start the session.<br><br>Exited"));
        QCOMPARE(visibleErrorBoxes()[0]->detailedText(), details);
    }

    void startFailureLogWithoutLink()
    {
        reportStartFailure(nullptr, QJsonObject{{"message", "Exited"}, {"id", "s"}, {"log", "l"}},
                           "Failed to start the session.");
        QCOMPARE(visibleErrorBoxes().size(), 1);
    }

    void pendingCallsLeaveBeforeCallback()
    {
        PendingCalls calls(handler.get());
        bool ran = false;
        const QString id = calls.call("Nuvek.connect", sessionParams("s"),
                                      [&](const QString &replyId, const QJsonValue &, const QJsonValue &) {
                                          ran = true;
                                          QVERIFY(!calls.contains(replyId));
                                      });
        QVERIFY(calls.contains(id));
        QCOMPARE(calls.count(), 1);
        server->replyResult(id, QJsonObject());
        QVERIFY(ran);
        QVERIFY(calls.isEmpty());
    }

    void pendingCallsCancelled()
    {
        int runs = 0;
        auto count = [&](const QString &, const QJsonValue &, const QJsonValue &) { ++runs; };
        QString a, b;
        {
            PendingCalls calls(handler.get());
            a = calls.call("Nuvek.list", {}, count);
            calls.cancelAll();
            QVERIFY(calls.isEmpty());
            b = calls.call("Nuvek.list", {}, count);
            QCOMPARE(handler->pendingIds(), QStringList{b});
        } // destroyed with b unanswered
        QVERIFY(handler->pendingIds().isEmpty());
        server->replyResult(a, QJsonArray());
        server->replyResult(b, QJsonArray());
        QCOMPARE(runs, 0);
    }

    void pendingCallsWithoutLink()
    {
        PendingCalls calls(handler.get());
        calls.call("Nuvek.list", {});
        server->takeRequests();
        handler.reset();
        QVERIFY(calls.handler() == nullptr);
        QVERIFY(calls.call("Nuvek.list", {}).isEmpty());
        QVERIFY(device->written().isEmpty());
        calls.cancelAll(); // the link is gone: only the set is emptied
        QVERIFY(calls.isEmpty());
    }

private:
    std::unique_ptr<DuplexDevice> device;
    std::unique_ptr<FakeRpcServer> server;
    std::unique_ptr<JsonRpcHandler> handler;
};

QTEST_MAIN(TestServerMethods)
#include "tst_servermethods.moc"
