#include "link/jsonrpchandler.h"
#include "support/duplexdevice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

struct Reply
{
    QString id;
    QJsonValue result;
    QJsonValue error;
};

// Collects the replies a handler delivers.
struct Recorder
{
    QList<Reply> replies;
    JsonRpcCallback callback()
    {
        return [this](const QString &id, const QJsonValue &result, const QJsonValue &error) {
            replies.append({id, result, error});
        };
    }
};

QByteArray frame(const QByteArray &payload)
{
    return QByteArray::number(payload.size()) + ':' + payload + ',';
}

} // namespace

class TestJsonRpcHandler : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        device.reset(new DuplexDevice);
        server.reset(new FakeRpcServer(device.get()));
        handler.reset(new JsonRpcHandler(device.get(), nullptr));
    }

    void cleanup()
    {
        handler.reset();
        server.reset();
        device.reset();
    }

    void versionCallBytes()
    {
        const QString id = handler->call("Nuvek.version", QJsonObject(), JsonRpcCallback());
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(id).hasMatch());
        const QByteArray expected =
            frame(QString("{\"id\":\"%1\",\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.version\","
                          "\"params\":{}}")
                      .arg(id)
                      .toUtf8());
        QCOMPARE(device->written(), expected);
    }

    void paramsSortedAndCompact()
    {
        const QString id = handler->call(
            "Nuvek.start",
            QJsonObject{{"name", QString::fromUtf8("caf\xc3\xa9")}, {"command", "xterm -e a:b,c"},
                        {"geometry", "1024x768"}, {"id", "abc"}},
            JsonRpcCallback());
        const QByteArray payload =
            QString("{\"id\":\"%1\",\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.start\",\"params\":"
                    "{\"command\":\"xterm -e a:b,c\",\"geometry\":\"1024x768\",\"id\":\"abc\","
                    "\"name\":\"caf\xc3\xa9\"}}")
                .arg(id)
                .toUtf8();
        // The length counts UTF-8 bytes.
        QCOMPARE(device->written(), frame(payload));
    }

    void distinctIds()
    {
        const QString a = handler->call("Nuvek.list", {}, {});
        const QString b = handler->call("Nuvek.list", {}, {});
        QVERIFY(a != b);
        QCOMPARE(server->takeRequests().size(), 2);
    }

    void repliesMatchedInAnyOrder()
    {
        Recorder first, second;
        const QString a = handler->call("Nuvek.list", {}, first.callback());
        const QString b = handler->call("Nuvek.connect", {{"id", "s"}}, second.callback());
        // Banner text before the marker is dropped; both replies come in one read.
        QByteArray bytes = "Welcome to the server\r\n" + NetStringStartMarker + "\n";
        bytes += encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":{\"port\":1}}").arg(b));
        bytes += encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(a));
        device->feed(bytes);

        QCOMPARE(first.replies.size(), 1);
        QCOMPARE(first.replies[0].id, a);
        QCOMPARE(first.replies[0].result, QJsonValue(QJsonArray()));
        QVERIFY(first.replies[0].error.isUndefined());
        QCOMPARE(second.replies.size(), 1);
        QCOMPARE(second.replies[0].id, b);
        QCOMPARE(second.replies[0].result.toObject().value("port").toInt(), 1);
        QVERIFY(handler->isOk());
        QVERIFY(handler->pendingIds().isEmpty());
    }

    void replySplitOverReads()
    {
        Recorder recorder;
        const QString id = handler->call("Nuvek.version", {}, recorder.callback());
        const QByteArray bytes = NetStringStartMarker
            + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":{}}").arg(id));
        for (char c : bytes)
            device->feed(QByteArray(1, c));
        QCOMPARE(recorder.replies.size(), 1);
    }

    void ignoredReplies_data()
    {
        QTest::addColumn<QString>("json"); // %1 = a pending id
        QTest::newRow("unknown id") << "{\"jsonrpc\":\"2.0\",\"id\":\"nope\",\"result\":{}}";
        QTest::newRow("numeric id") << "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":{}}";
        QTest::newRow("no id") << "{\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.note\",\"params\":{}}";
        QTest::newRow("no jsonrpc") << "{\"id\":\"%1\",\"result\":{}}";
        QTest::newRow("wrong jsonrpc") << "{\"jsonrpc\":\"1.0\",\"id\":\"%1\",\"result\":{}}";
        QTest::newRow("numeric jsonrpc") << "{\"jsonrpc\":2.0,\"id\":\"%1\",\"result\":{}}";
    }

    void ignoredReplies()
    {
        QFETCH(QString, json);
        Recorder recorder;
        const QString id = handler->call("Nuvek.list", {}, recorder.callback());
        server->sendMarker();
        device->feed(encodeNetString(QString(json).replace("%1", id)));
        QVERIFY(recorder.replies.isEmpty());
        QVERIFY(handler->isOk());
        QCOMPARE(device->closeCount(), 0);
        // The call is still pending and its real reply gets through.
        server->replyResult(id, QJsonObject());
        QCOMPARE(recorder.replies.size(), 1);
    }

    void cancelledReplyDropped()
    {
        Recorder recorder;
        const QString id = handler->call("Nuvek.list", {}, recorder.callback());
        handler->cancel(id);
        QVERIFY(handler->pendingIds().isEmpty());
        server->sendMarker();
        server->replyResult(id, QJsonArray());
        QVERIFY(recorder.replies.isEmpty());
        QVERIFY(handler->isOk());
    }

    void secondReplyForSameIdDropped()
    {
        Recorder recorder;
        const QString id = handler->call("Nuvek.list", {}, recorder.callback());
        server->sendMarker();
        server->replyResult(id, QJsonArray());
        server->replyResult(id, QJsonArray());
        QCOMPARE(recorder.replies.size(), 1);
    }

    void resultAndErrorBothPassed()
    {
        Recorder recorder;
        const QString id = handler->call("Nuvek.start", {}, recorder.callback());
        server->sendMarker();
        server->send({{"jsonrpc", "2.0"}, {"id", id}, {"result", 5}, {"error", QJsonObject{{"message", "m"}}}});
        QCOMPARE(recorder.replies.size(), 1);
        QCOMPARE(recorder.replies[0].result, QJsonValue(5));
        QCOMPARE(recorder.replies[0].error.toObject().value("message").toString(), QString("m"));

        server->replyError(handler->call("Nuvek.start", {}, recorder.callback()), QJsonObject());
        QCOMPARE(recorder.replies.size(), 2);
        QVERIFY(recorder.replies[1].result.isUndefined());
        QVERIFY(recorder.replies[1].error.isObject());
    }

    void emptyCallbackAccepted()
    {
        const QString id = handler->call("Nuvek.params", {}, JsonRpcCallback());
        server->sendMarker();
        server->replyResult(id, QJsonObject());
        QVERIFY(handler->isOk());
        QVERIFY(handler->pendingIds().isEmpty());
    }

    void brokenStream_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("not json") << encodeNetString("hello") << "Got invalid JSON";
        QTest::newRow("array") << encodeNetString("[{\"jsonrpc\":\"2.0\"}]") << "Got invalid JSON";
        QTest::newRow("string") << encodeNetString("\"x\"") << "Got invalid JSON";
        QTest::newRow("truncated") << encodeNetString("{\"jsonrpc\":") << "Got invalid JSON";
        QTest::newRow("empty payload") << encodeNetString("") << "Got invalid JSON";
        QTest::newRow("framing") << QByteArray("12345678") << "Got an invalid NetString";
        QTest::newRow("length") << QByteArray("x:") << "Got an invalid NetString length";
        QTest::newRow("too big") << QByteArray("70000:") << "Got a NetString length that is too big";
    }

    void brokenStream()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        Recorder recorder;
        const QString id = handler->call("Nuvek.list", {}, recorder.callback());
        QVERIFY(handler->isOk());
        QVERIFY(handler->errorString().isEmpty());
        server->sendMarker();
        // A good reply behind the bad frame in the same read is never delivered.
        device->feed(bytes + encodeNetString(
                                 QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(id)));
        QVERIFY(!handler->isOk());
        QCOMPARE(handler->errorString(), error);
        QCOMPARE(device->closeCount(), 1);
        QVERIFY(!device->isOpen());
        QVERIFY(recorder.replies.isEmpty());

        // Calls on the closed link are still accepted, they just go nowhere.
        device->takeWritten();
        QVERIFY(!handler->call("Nuvek.list", {}, {}).isEmpty());
        QVERIFY(device->written().isEmpty());
    }

    void goodRepliesBeforeBadFrameDelivered()
    {
        Recorder recorder;
        const QString id = handler->call("Nuvek.list", {}, recorder.callback());
        device->feed(NetStringStartMarker
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(id))
                     + encodeNetString("[]"));
        QCOMPARE(recorder.replies.size(), 1);
        QVERIFY(!handler->isOk());
    }

    void callbackMayCallAgain()
    {
        QStringList seen;
        QString second;
        JsonRpcCallback inner = [&](const QString &id, const QJsonValue &, const QJsonValue &) {
            seen << "inner:" + id;
        };
        const QString first = handler->call("Nuvek.list", {}, [&](const QString &id, const QJsonValue &,
                                                                 const QJsonValue &) {
            seen << "outer:" + id;
            QVERIFY(!handler->pendingIds().contains(id));
            second = handler->call("Nuvek.list", {}, inner);
        });
        server->sendMarker();
        server->replyResult(first, QJsonArray());
        QCOMPARE(seen, QStringList{"outer:" + first});
        QCOMPARE(handler->pendingIds(), QStringList{second});
        server->replyResult(second, QJsonArray());
        QCOMPARE(seen, (QStringList{"outer:" + first, "inner:" + second}));
    }

    void callbackMayCancelLaterReplyInSameRead()
    {
        Recorder later;
        QString b;
        const QString a = handler->call("Nuvek.list", {}, [&](const QString &, const QJsonValue &,
                                                             const QJsonValue &) { handler->cancel(b); });
        b = handler->call("Nuvek.list", {}, later.callback());
        device->feed(NetStringStartMarker
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(a))
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(b)));
        QVERIFY(later.replies.isEmpty());
    }

    void callbackMayDestroyHandler()
    {
        Recorder later;
        const QString a = handler->call("Nuvek.list", {}, [&](const QString &, const QJsonValue &,
                                                             const QJsonValue &) { handler.reset(); });
        const QString b = handler->call("Nuvek.list", {}, later.callback());
        device->feed(NetStringStartMarker
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(a))
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(b)));
        QVERIFY(!handler);
        QVERIFY(later.replies.isEmpty());
    }

    void destructionDropsPendingCallbacks()
    {
        int calls = 0;
        auto guard = std::make_shared<int>(0);
        handler->call("Nuvek.list", {}, [&calls, guard](const QString &, const QJsonValue &,
                                                        const QJsonValue &) { ++calls; });
        QCOMPARE(guard.use_count(), 2);
        handler.reset();
        QCOMPARE(calls, 0);
        QCOMPARE(guard.use_count(), 1); // the callback itself is gone
        // The device outlives the handler and no longer reaches it.
        server->sendMarker();
        device->feed(encodeNetString("{}"));
    }

private:
    std::unique_ptr<DuplexDevice> device;
    std::unique_ptr<FakeRpcServer> server;
    std::unique_ptr<JsonRpcHandler> handler;
};

QTEST_GUILESS_MAIN(TestJsonRpcHandler)
#include "tst_jsonrpchandler.moc"
