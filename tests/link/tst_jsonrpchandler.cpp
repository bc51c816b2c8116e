#include "link/jsonrpchandler.h"
#include "support/duplexdevice.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
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

    void ignoredReplies_data()
    {
        QTest::addColumn<QString>("json"); // %1 = a pending id
        QTest::newRow("unknown id") << "{\"jsonrpc\":\"2.0\",\"id\":\"nope\",\"result\":{}}";
        QTest::newRow("no id") << "{\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.note\",\"params\":{}}";
        QTest::newRow("wrong jsonrpc") << "{\"jsonrpc\":\"1.0\",\"id\":\"%1\",\"result\":{}}";
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
        QVERIFY(device->isOpen());
        // The call is still pending and its real reply gets through.
        server->replyResult(id, QJsonObject());
        QCOMPARE(recorder.replies.size(), 1);
    }

    void brokenStream_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("not json") << encodeNetString("hello") << "Got invalid JSON";
        QTest::newRow("array") << encodeNetString("[{\"jsonrpc\":\"2.0\"}]") << "Got invalid JSON";
        QTest::newRow("truncated") << encodeNetString("{\"jsonrpc\":") << "Got invalid JSON";
        QTest::newRow("framing") << QByteArray("12345678") << "Got an invalid NetString";
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
        device->feed(bytes + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(id)));
        QVERIFY(!handler->isOk());
        QCOMPARE(handler->errorString(), error);
        QVERIFY(!device->isOpen());
        QVERIFY(recorder.replies.isEmpty());

        // Calls on the closed link are still accepted, they just go nowhere.
        device->takeWritten();
        QVERIFY(!handler->call("Nuvek.list", {}, {}).isEmpty());
        QVERIFY(device->written().isEmpty());
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

    // A callback that cancels the next reply of the same read, or destroys the handler: the
    // rest of the read reaches nobody.
    void callbackEndsTheRest_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("cancels the next call") << false;
        QTest::newRow("destroys the handler") << true;
    }

    void callbackEndsTheRest()
    {
        QFETCH(bool, destroy);
        Recorder later;
        QString b;
        const QString a = handler->call("Nuvek.list", {}, [&](const QString &, const QJsonValue &, const QJsonValue &) {
            destroy ? handler.reset() : handler->cancel(b);
        });
        b = handler->call("Nuvek.list", {}, later.callback());
        device->feed(NetStringStartMarker + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(a))
                     + encodeNetString(QString("{\"jsonrpc\":\"2.0\",\"id\":\"%1\",\"result\":[]}").arg(b)));
        QCOMPARE(!handler, destroy);
        QVERIFY(later.replies.isEmpty());
    }

    // The NetString framing below it.
    void parseStep_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("error");
        const int P = int(NetStringReader::Take::Payload), M = int(NetStringReader::Take::NeedMore),
                  F = int(NetStringReader::Take::Failure);
        QTest::newRow("empty payload") << QByteArray("0:,") << P << QByteArray("") << QString();
        QTest::newRow("line break before length") << QByteArray("\n2:ab,") << P << QByteArray("ab") << QString();
        QTest::newRow("split in payload") << QByteArray("5:ab") << M << QByteArray() << QString();
        QTest::newRow("too big") << QByteArray("65537:") << F << QByteArray()
                                 << QString("Got a NetString length that is too big");
    }

    void parseStep()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, result);
        QFETCH(QByteArray, payload);
        QFETCH(QString, error);
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        NetStringReader reader(&device, "Test");
        reader.buffer() = input;
        QByteArray got;
        QCOMPARE(int(reader.takeNetString(got)), result);
        QCOMPARE(got, payload);
        QCOMPARE(reader.errorString(), error);
        if (!error.isEmpty()) {
            QCOMPARE(reader.state(), int(NetStringReader::Failed));
            QVERIFY(!device.isOpen());
        }
    }

    // The stream loop, fed in chunks as the SSH client's output would arrive.
    void streamSplitsAndMarker()
    {
        QByteArray data = "banner text\r\nmore noise ---- BEGIN Nuvek";
        QByteArray rest = " NetString ----\n3:one,3:two,0:,5:th";
        QByteArray tail = "ree,";

        QBuffer device;
        device.open(QIODevice::ReadWrite);
        NetStringReader reader(&device, "Test");
        QList<QByteArray> got;
        auto feed = [&](const QByteArray &bytes) {
            const qint64 pos = device.pos();
            device.buffer().append(bytes);
            device.seek(pos);
            reader.readStream([&](const QByteArray &p) { got << p; return true; });
        };
        feed(data);
        QCOMPARE(reader.state(), 0);
        QVERIFY(reader.buffer().size() <= NetStringStartMarker.size());
        feed(rest);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", ""}));
        feed(tail);
        QCOMPARE(got, (QList<QByteArray>{"one", "two", "", "three"}));
    }

private:
    std::unique_ptr<DuplexDevice> device;
    std::unique_ptr<FakeRpcServer> server;
    std::unique_ptr<JsonRpcHandler> handler;
};

QTEST_GUILESS_MAIN(TestJsonRpcHandler)
#include "tst_jsonrpchandler.moc"
