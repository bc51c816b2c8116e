// Drives the real nuvek2_sci program over its standard input and output, with
// real display servers and a small stand-in for the session's RDP server.
#include "link/netstring.h"
#include "support/testsupport.h"

#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

QString binDir()
{
    const QString fromEnv = qEnvironmentVariable("NUVEK_BIN_DIR");
    return fromEnv.isEmpty() ? nuvekBinDir() : fromEnv;
}

// The fields of /proc/<pid>/stat from the state on.
QList<QByteArray> procStat(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = pid > 0 && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return text.isEmpty() ? QList<QByteArray>() : text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// Running and not a zombie (nobody may reap orphans where the tests run).
bool processRuns(qint64 pid) { return !procStat(pid).isEmpty() && procStat(pid)[0] != "Z"; }

// One link: the program, the reader of its replies.
class Link
{
public:
    Link(const QString &dataHome, const QString &rdpProgram)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataHome);
        env.insert("NUVEK2_RDP_PROGRAM", rdpProgram);
        process.setProcessEnvironment(env);
        process.start(binDir() + "/nuvek2_sci", QStringList());
        while (reader.buffer().size() < NetStringStartMarker.size() && process.waitForReadyRead(5000))
            reader.buffer() += process.readAllStandardOutput();
        started = reader.buffer().startsWith(NetStringStartMarker);
        reader.buffer().remove(0, NetStringStartMarker.size());
    }
    ~Link()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(5000))
            process.kill(), process.waitForFinished(2000);
    }

    // The next reply, or an empty array (none, or one too long for a client).
    QByteArray nextPayload()
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray payload;
        while (reader.takeNetString(payload) != NetStringReader::Take::Payload) {
            if (reader.state() == NetStringReader::Failed || timer.elapsed() > 30000)
                return {};
            process.waitForReadyRead(100);
            reader.buffer() += process.readAllStandardOutput();
        }
        return payload.size() <= 65536 ? payload : QByteArray();
    }

    QJsonObject call(const QString &method, const QJsonObject &params = {})
    {
        const QString id = QStringLiteral("req%1").arg(++counter);
        const QJsonObject request{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
        process.write(encodeNetString(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))));
        const QJsonObject reply = QJsonDocument::fromJson(nextPayload()).object();
        return reply.value("id").toString() == id ? reply : QJsonObject();
    }
    QJsonObject result(const QString &method, const QJsonObject &params = {})
    {
        return call(method, params).value("result").toObject();
    }

    QProcess process;
    NetStringReader reader{nullptr, "test"};
    bool started = false;
    int counter = 0;
};

} // namespace

class TestNuvek2Sci : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_data;
    QString m_rdp, m_failingRdp;

    QString serverDir() const { return m_data.path() + "/Ostrane Rodorivezozoru/Nuvek/server"; }
    QString hostDir() const { return serverDir() + "/sessions/" + QSysInfo::machineHostName(); }

    static QJsonObject record(const QString &dir)
    {
        QFile file(dir + "/session.json");
        return QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).object();
    }

    QList<qint64> sessionPids(const QString &dir) const
    {
        QList<qint64> pids;
        for (const QJsonValue &p : record(dir).value("processes").toObject())
            pids << qint64(p.toObject().value("pid").toDouble());
        return pids;
    }

    QJsonObject findSession(Link &link, const QString &id)
    {
        for (const QJsonValue &v : link.call("Nuvek.list").value("result").toArray()) {
            if (v.toObject().value("id").toString() == id)
                return v.toObject();
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        QVERIFY(QFileInfo(binDir() + "/nuvek2_sci").isExecutable());
        m_rdp = m_data.filePath("standin-rdp"), m_failingRdp = m_data.filePath("failing-rdp");
        QFile standIn(QStringLiteral(NUVEK_SOURCE_DIR "/tests/server/standin_rdp.py"));
        QVERIFY(standIn.open(QIODevice::ReadOnly) && writeFile(m_rdp, standIn.readAll(), true));
        QVERIFY(writeFile(m_failingRdp, "#!/bin/sh\necho 'cannot open the display' >&2\nexit 1\n", true));
    }

    void cleanupTestCase()
    {
        // Whatever a failed test left goes the hard way.
        QDirIterator it(serverDir() + "/sessions", {"session.json"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            for (qint64 pid : sessionPids(QFileInfo(it.next()).path()))
                if (processRuns(pid))
                    ::kill(pid_t(-pid), SIGKILL);
        }
    }

    void sessionLifecycle_data()
    {
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("windowMode");
        QTest::newRow("sized desktop") << "800x600" << "800x600" << "desktop";
        QTest::newRow("single application") << "rootless" << "1024x768" << "rootless";
    }

    void sessionLifecycle()
    {
        QFETCH(QString, geometry);
        QFETCH(QString, desktop);
        QFETCH(QString, windowMode);
        if (QStandardPaths::findExecutable("Xvnc").isEmpty())
            QSKIP("Xvnc is needed");
        const QString id = "0123456789abcdef0123456789abcdef", dir = hostDir() + '/' + id;
        QJsonObject started;
        {
            Link link(m_data.path(), m_rdp);
            started = link.result("Nuvek.start", {{"id", id}, {"command", "sleep 300"}, {"geometry", geometry}, {"name", "Test"}});
        } // the link ends; the session must not
        const QString password = started.value("password").toString();
        QVERIFY(password.size() == 32 && started.value("windowMode") == windowMode);
        QCOMPARE(started.value("geometry").toString(), desktop);
        const QList<qint64> pids = sessionPids(dir);
        QVERIFY(pids.size() == 3 && std::all_of(pids.begin(), pids.end(), processRuns));

        Link link(m_data.path(), m_rdp);
        QCOMPARE(findSession(link, id).value("command").toString(), "sleep 300");
        QVERIFY(link.call("Nuvek.params", {{"id", id}, {"name", "Other"}}).value("result").isObject());
        QCOMPARE(findSession(link, id).value("params").toObject().value("name").toString(), "Other");
        QCOMPARE(link.result("Nuvek.connect", {{"id", id}}), started);

        // The RDP server got the display and a private file with the password.
        const QString rdpLog = link.result("Nuvek.log", {{"id", id}, {"log", "rdp"}}).value("contents").toString();
        const QString display = QStringLiteral(":%1").arg(record(dir).value("display").toInt());
        QVERIFY2(rdpLog.contains(QStringLiteral("display=%1 env=%1 mode=600 password=%2\n").arg(display, password)), qPrintable(rdpLog));
        QCOMPARE(rdpLog.contains("rootless\n"), windowMode == "rootless");
        // The display takes a new size at run time, for clients with the session's cookie.
        QCOMPARE(QProcess::execute("env", {"DISPLAY=" + display, "XAUTHORITY=" + dir + "/Xauthority", "xrandr", "--fb", "1280x800"}), 0);

        // A viewer counts as a client until "Nuvek.disconnect" drops it; the server stays.
        // (Counted from what is there: another test running at the same time may have picked
        // this port as a "free" one to connect to.)
        const int others = findSession(link, id).value("clients").toInt();
        QTcpSocket viewer;
        viewer.connectToHost("127.0.0.1", quint16(started.value("port").toInt()));
        QVERIFY(viewer.waitForConnected(3000));
        QTRY_COMPARE(findSession(link, id).value("clients").toInt(), others + 1);
        QVERIFY(link.call("Nuvek.disconnect", {{"id", id}}).value("result").isObject());
        QVERIFY(viewer.state() == QAbstractSocket::UnconnectedState || viewer.waitForDisconnected(5000));
        const QJsonObject listed = findSession(link, id);
        QCOMPARE(listed.value("clients").toInt(), 0);
        QVERIFY(!listed.value("lastDisconnect").toString().isEmpty());
        QCOMPARE(sessionPids(dir), pids);
        const QJsonArray history = link.result("Nuvek.bookmark", {{"op", "list"}}).value("history").toArray();
        QCOMPARE(history.first().toObject().value("command").toString(), "sleep 300");

        QVERIFY(link.call("Nuvek.terminate", {{"id", id}}).value("result").isObject());
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(pids.begin(), pids.end(), processRuns), 5000);
        QVERIFY(!QFileInfo::exists(dir));
        QVERIFY(link.call("Nuvek.connect", {{"id", id}}).value("error").isObject());
    }

    void failedStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QString>("log"); // the log the error names, and a line of it
        QTest::addColumn<QString>("logText");
        auto start = [](const QString &id, const QString &command, const QString &geometry = "640x480") {
            return QJsonObject{{"id", id}, {"command", command}, {"geometry", geometry}};
        };
        QTest::newRow("command not found") << m_rdp << start("nocommand", "no-such-program-here") << "command" << "not found";
        QTest::newRow("RDP server fails") << m_failingRdp << start("rdpfails", "sleep 300") << "rdp" << "cannot open the display";
        QTest::newRow("no RDP server") << "/nonexistent/nuvek2_rdp" << start("nordp", "sleep 300") << "" << "";
        QTest::newRow("id with a line end") << m_rdp << start("lineend\n", "sleep 300") << "" << "";
        QTest::newRow("bad size") << m_rdp << start("badsize", "sleep 300", "huge") << "" << "";
    }

    void failedStart()
    {
        QFETCH(QString, program);
        QFETCH(QJsonObject, params);
        QFETCH(QString, log);
        QFETCH(QString, logText);
        if (QStandardPaths::findExecutable("Xvnc").isEmpty())
            QSKIP("Xvnc is needed");
        Link link(m_data.path(), program);
        const QJsonObject error = link.call("Nuvek.start", params).value("error").toObject();
        QVERIFY(!error.value("message").toString().isEmpty());
        QCOMPARE(error.value("log").toString(), log);
        const QString text = link.result("Nuvek.log", {{"id", params.value("id")}, {"log", log}}).value("contents").toString();
        QVERIFY2(text.contains(logText), qPrintable(text));
        QVERIFY(link.call("Nuvek.list").value("result").toArray().isEmpty());
        QVERIFY(QDir(hostDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    void leftoversOfOthers_data()
    {
        QProcess ended;
        ended.start("true", QStringList());
        QVERIFY(ended.waitForStarted());
        const QByteArray endedHere = QSysInfo::machineHostName().toUtf8() + '\n' + QByteArray::number(ended.processId()) + "\n1\n";
        QVERIFY(ended.waitForFinished());
        const QString here = QSysInfo::machineHostName();
        QTest::addColumn<QByteArray>("lockHolder"); // of both lock files
        QTest::addColumn<QString>("recordHost");    // of a session record naming a stranger; empty: none
        QTest::addColumn<int>("startShift");        // of the stranger's start time in the record
        QTest::addColumn<QString>("bootId");
        QTest::newRow("empty lock") << QByteArray() << "" << 0 << "";
        QTest::newRow("lock of another host that crashed") << QByteArray("elsewhere\n4242\n4242\n") << "" << 0 << "";
        QTest::newRow("lock of an ended process") << endedHere << "" << 0 << "";
        QTest::newRow("lock under a recycled process id") << here.toUtf8() + '\n' + QByteArray::number(::getpid()) + "\n1\n" << "" << 0 << "";
        QTest::newRow("another host's session") << endedHere << "elsewhere" << 0 << "";
        QTest::newRow("session under a recycled process id") << endedHere << here << 1 << "";
        QTest::newRow("session of an earlier boot") << endedHere << here << 0 << "0-earlier-boot";
    }

    void leftoversOfOthers()
    {
        QFETCH(QByteArray, lockHolder);
        QFETCH(QString, recordHost);
        QFETCH(int, startShift);
        QFETCH(QString, bootId);
        QVERIFY(writeFile(serverDir() + "/bookmarks.lock", lockHolder) && writeFile(hostDir() + "/state.lock", lockHolder));
        // A stranger leading its own process group, under the process id of the record.
        qint64 stranger = 0;
        QVERIFY(QProcess::startDetached("setsid", {"sleep", "60"}, QString(), &stranger));
        QTRY_VERIFY(procStat(stranger).value(2) == QByteArray::number(stranger));
        const QJsonObject process{{"pid", double(stranger)}, {"bootId", bootId},
                                  {"startTime", QString::number(procStat(stranger).value(19).toULongLong() + startShift)}};
        const QString dir = serverDir() + "/sessions/" + recordHost + "/foreign";
        const QJsonObject stored{{"id", "foreign"}, {"state", "running"},
                                 {"processes", QJsonObject{{"xserver", process}, {"session", process}}}};
        QVERIFY(recordHost.isEmpty() || writeFile(dir + "/session.json", QJsonDocument(stored).toJson()));
        {
            Link link(m_data.path(), m_rdp);
            QElapsedTimer timer;
            timer.start();
            QVERIFY(link.call("Nuvek.bookmark", {{"op", "edit"}, {"command", "xterm"}}).value("result").isObject());
            QVERIFY(link.started && findSession(link, "foreign").isEmpty());
            QVERIFY2(timer.elapsed() < 15000, "waited for a lock nobody holds");
        }
        const bool survived = processRuns(stranger);
        ::kill(pid_t(stranger), SIGKILL);
        QVERIFY(survived);
        QVERIFY(!QFileInfo::exists(hostDir() + "/state.lock"));
        // Only a record of this host is cleaned away.
        QCOMPARE(QFileInfo::exists(dir), recordHost == "elsewhere");
        QDir(dir).removeRecursively();
    }

    void bookmarksAlwaysFitAReply_data()
    {
        QJsonArray many;
        for (int i = 0; i < 100; ++i)
            many.append(QJsonObject{{"id", QStringLiteral("b%1").arg(i)}, {"command", QString(1900, 'c')}});
        const QByteArray huge = QJsonDocument(QJsonObject{{"bookmarks", many}, {"history", many}}).toJson();
        auto edit = [](const QString &id) { return QJsonObject{{"op", "edit"}, {"id", id}, {"command", QString(1900, 'n')}}; };
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("list of too much") << huge << QJsonObject{{"op", "list"}} << true;
        QTest::newRow("delete from too much") << huge << QJsonObject{{"op", "delete"}, {"id", "b1"}} << true;
        QTest::newRow("change within too much") << huge << edit("b0") << true;
        QTest::newRow("add to too much") << huge << edit(QString()) << false;
        QTest::newRow("add to a damaged file") << QByteArray("{\"bookmarks\": [ {\"id\": \"lost?\"") << edit(QString()) << true;
    }

    void bookmarksAlwaysFitAReply()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QJsonObject, params);
        QFETCH(bool, succeeds);
        QDir(serverDir()).removeRecursively();
        QVERIFY(writeFile(serverDir() + "/bookmarks.json", stored));
        Link link(m_data.path(), m_rdp);
        const QJsonObject reply = link.call("Nuvek.bookmark", params);
        QCOMPARE(!reply.value("result").toObject().value("bookmarks").toArray().isEmpty(), succeeds);
        QCOMPARE(reply.value("error").toObject().value("message").toString().isEmpty(), succeeds);
        // A file that did not parse is kept aside, and said so.
        const QStringList aside = QDir(serverDir()).entryList({"bookmarks.json.damaged-*"});
        QCOMPARE(aside.size(), QJsonDocument::fromJson(stored).isNull() ? 1 : 0);
        QFile kept(serverDir() + '/' + aside.value(0));
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000));
        QVERIFY(aside.isEmpty() || (kept.open(QIODevice::ReadOnly) && kept.readAll() == stored
                                    && link.process.readAllStandardError().contains(aside.first().toUtf8())));
    }

    void rawInput_data()
    {
        auto frame = [](const QByteArray &json) { return QByteArray::number(json.size()) + ':' + json + ','; };
        auto call = [&](const QByteArray &id, const QByteArray &rest) {
            return frame("{\"jsonrpc\":\"2.0\"," + rest + ",\"id\":" + id + '}');
        };
        const QByteArray version = "\"method\":\"Nuvek.version\"";
        // Its log fills most of a reply once escaped.
        const QByteArray bigLog = "\"method\":\"Nuvek.log\",\"params\":{\"id\":\"b\",\"log\":\"command\"}";
        const QByteArray longId = '"' + QByteArray(30000, 'x') + '"';
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("reply"); // a part of the first reply; empty: none
        QTest::addColumn<int>("code");         // of its error; 0: a result; 1: the link ends
        QTest::newRow("notification") << frame("{\"jsonrpc\":\"2.0\"," + version + '}') << QByteArray() << 0;
        QTest::newRow("no method") << call("\"a\"", "\"params\":{}") << QByteArray("\"id\":\"a\",") << -32600;
        QTest::newRow("unknown method") << call("7", "\"method\":\"Nuvek.nothing\"") << QByteArray("\"id\":7,") << -32601;
        QTest::newRow("object id") << call("{\"a\":1}", version) << QByteArray("\"id\":null,") << -32600;
        QTest::newRow("number beyond a double") << call("9007199254740993", version) << QByteArray("\"id\":9007199254740993,") << 0;
        QTest::newRow("escapes") << frame("{\"jsonrpc\":\"2.0\", \"\\u0069d\" : \"\\u00e9\\\"}\", " + version + '}')
                                 << QByteArray("\"id\":\"\\u00e9\\\"}\",") << 0;
        QTest::newRow("log with NUL") << call("1", "\"method\":\"Nuvek.log\",\"params\":{\"id\":\"nul\",\"log\":\"command\"}")
                                      << QByteArray("\"contents\":\"before\\u0000after\\n\"") << 0;
        QTest::newRow("log escaped beyond a reply") << call("2", bigLog) << QByteArray("\"id\":2,\"result\"") << 0;
        QTest::newRow("reply too large") << call(longId, bigLog) << "\"id\":" + longId + ',' << -32000;
        QTest::newRow("id too long for the error") // the longest id a request can carry
            << call('"' + QByteArray(65536 - 82, 'x') + '"', bigLog) << QByteArray("\"id\":null,") << -32000;
        // Broken frames: no colon, a bad length, too long, not JSON, not an object, empty, cut short.
        for (const char *input : {"abcdefghijk", "1x:abc,", "65537:", "7:notjson,", "7:[1,2,3],", "0:,", "20:{\"id\":"})
            QTest::newRow(input) << QByteArray(input) << QByteArray() << 1;
    }

    void rawInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, reply);
        QFETCH(int, code);
        const QString failed = serverDir() + "/failed/" + QSysInfo::machineHostName();
        QVERIFY(writeFile(failed + "/b/command.log", QByteArray(16000, '\x01'))
                && writeFile(failed + "/nul/command.log", QByteArray("before\0after\n", 13)));
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.started);
        link.process.write(input);
        if (code == 1) {
            link.process.closeWriteChannel();
            QVERIFY(link.process.waitForFinished(5000) && link.process.exitStatus() == QProcess::NormalExit);
            QVERIFY(link.process.exitCode() != 0);
            QVERIFY(link.reader.buffer().isEmpty() && link.process.readAllStandardOutput().isEmpty());
            return;
        }
        link.process.write(encodeNetString("{\"jsonrpc\":\"2.0\",\"id\":\"end\",\"method\":\"Nuvek.version\"}"));
        QByteArray first = link.nextPayload();
        if (!reply.isEmpty()) {
            QVERIFY2(first.contains(reply), first.left(300).constData());
            QCOMPARE(QJsonDocument::fromJson(first).object().value("error").toObject().value("code").toInt(), code);
            first = link.nextPayload();
        }
        QVERIFY(first.contains("\"id\":\"end\""));
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000) && link.process.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(TestNuvek2Sci)
#include "tst_nuvek2sci.moc"
