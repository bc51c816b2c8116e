// Drives the real nuvek2_sci program over its standard input and output, with
// real display servers and a small stand-in for the session's RDP server.
#include "link/netstring.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

const char FailingRdp[] = "#!/bin/sh\necho 'cannot open the display' >&2\nexit 1\n";

QString binDir()
{
    const QString fromEnv = qEnvironmentVariable("NUVEK_BIN_DIR");
    return fromEnv.isEmpty() ? nuvekBinDir() : fromEnv;
}

QList<QByteArray> procStat(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// Running and not a zombie (nobody may reap orphans where the tests run).
bool processRuns(qint64 pid) { return !procStat(pid).isEmpty() && procStat(pid)[0] != "Z"; }

bool waitGone(const QList<qint64> &pids, int ms)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (std::none_of(pids.begin(), pids.end(), processRuns))
            return true;
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
}

bool writeFile(const QString &path, const QByteArray &contents, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size()
        && (!executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

// One link: the program, the reader of its replies.
class Link
{
public:
    Link(const QString &dataHome, const QString &rdpProgram)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("NUVEK2_RDP_PROGRAM"), rdpProgram);
        process.setProcessEnvironment(env);
        process.start(binDir() + QStringLiteral("/nuvek2_sci"), QStringList());
    }
    ~Link()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished(2000);
    }

    bool readMarker()
    {
        while (reader.buffer().size() < NetStringStartMarker.size() && process.waitForReadyRead(5000))
            reader.buffer() += process.readAllStandardOutput();
        const bool ok = reader.buffer().startsWith(NetStringStartMarker);
        reader.buffer().remove(0, NetStringStartMarker.size());
        return ok;
    }

    // The next reply as sent, or an empty array (none, or one the client would refuse).
    QByteArray nextPayload(int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        QByteArray payload;
        while (reader.takeNetString(payload) != NetStringReader::Take::Payload) {
            if (reader.state() == NetStringReader::Failed || timer.elapsed() > timeoutMs)
                return {};
            process.waitForReadyRead(100);
            reader.buffer() += process.readAllStandardOutput();
        }
        return payload.size() <= 65536 ? payload : QByteArray();
    }

    QJsonObject call(const QString &method, const QJsonObject &params = {})
    {
        const QString id = QStringLiteral("req%1").arg(++counter);
        const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id},
                                  {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
        process.write(encodeNetString(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))));
        const QJsonObject reply = QJsonDocument::fromJson(nextPayload()).object();
        return reply.value(QStringLiteral("id")).toString() == id ? reply : QJsonObject();
    }

    QProcess process;
    NetStringReader reader{nullptr, "test"};
    int counter = 0;
};

QJsonObject result(const QJsonObject &reply) { return reply.value(QStringLiteral("result")).toObject(); }
QString errorText(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
}
QJsonObject idParam(const QString &id) { return {{QStringLiteral("id"), id}}; }

} // namespace

class TestNuvek2Sci : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_data;
    QString m_rdp, m_failingRdp;

    QString serverDir() const { return m_data.path() + QStringLiteral("/Ostrane Rodorivezozoru/Nuvek/server"); }
    QString hostDir() const { return serverDir() + QStringLiteral("/sessions/") + QSysInfo::machineHostName(); }

    QJsonObject record(const QString &dir) const
    {
        QFile file(dir + QStringLiteral("/session.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }

    QList<qint64> sessionPids(const QString &dir) const
    {
        QList<qint64> pids;
        const QJsonObject processes = record(dir).value(QStringLiteral("processes")).toObject();
        for (const QJsonValue &p : processes)
            pids << qint64(p.toObject().value(QStringLiteral("pid")).toDouble());
        return pids;
    }

    QJsonObject findSession(Link &link, const QString &id)
    {
        for (const QJsonValue &v : link.call(QStringLiteral("Nuvek.list")).value(QStringLiteral("result")).toArray()) {
            if (v.toObject().value(QStringLiteral("id")).toString() == id)
                return v.toObject();
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        QVERIFY(QFileInfo(binDir() + QStringLiteral("/nuvek2_sci")).isExecutable());
        m_rdp = m_data.filePath(QStringLiteral("standin-rdp"));
        m_failingRdp = m_data.filePath(QStringLiteral("failing-rdp"));
        QFile standIn(QStringLiteral(NUVEK_SOURCE_DIR "/tests/server/standin_rdp.py"));
        QVERIFY(standIn.open(QIODevice::ReadOnly));
        QVERIFY(writeFile(m_rdp, standIn.readAll(), true) && writeFile(m_failingRdp, FailingRdp, true));
    }

    void cleanupTestCase()
    {
        // Whatever a failed test left goes the hard way.
        for (const QFileInfo &host : QDir(serverDir() + QStringLiteral("/sessions")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QFileInfo &session : QDir(host.filePath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                for (qint64 pid : sessionPids(session.filePath()))
                    if (pid > 0 && processRuns(pid))
                        ::kill(pid_t(-pid), SIGKILL);
            }
        }
    }

    void sessionLifecycle_data()
    {
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<QString>("desktop");
        QTest::newRow("sized desktop") << "800x600" << "800x600";
        QTest::newRow("single application runs as a desktop") << "rootless" << "1024x768";
    }

    void sessionLifecycle()
    {
        QFETCH(QString, geometry);
        QFETCH(QString, desktop);
        if (QStandardPaths::findExecutable(QStringLiteral("Xvnc")).isEmpty())
            QSKIP("Xvnc is needed");
        const QString id = QStringLiteral("0123456789abcdef0123456789abcdef");
        QJsonObject started;
        {
            Link link(m_data.path(), m_rdp);
            QVERIFY(link.readMarker());
            started = result(link.call(QStringLiteral("Nuvek.start"),
                                       {{QStringLiteral("id"), id}, {QStringLiteral("command"), QStringLiteral("sleep 300")},
                                        {QStringLiteral("geometry"), geometry}, {QStringLiteral("name"), QStringLiteral("Test")}}));
        } // the link ends; the session must not
        const QString password = started.value(QStringLiteral("password")).toString();
        const quint16 port = quint16(started.value(QStringLiteral("port")).toInt());
        QCOMPARE(password.size(), 32);
        QCOMPARE(started.value(QStringLiteral("geometry")).toString(), desktop);
        QCOMPARE(started.value(QStringLiteral("windowMode")).toString(), QStringLiteral("desktop"));
        const QString dir = hostDir() + QLatin1Char('/') + id;
        const QList<qint64> pids = sessionPids(dir);
        QCOMPARE(pids.size(), 3);
        QVERIFY(std::all_of(pids.begin(), pids.end(), processRuns));

        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        QJsonObject listed = findSession(link, id);
        QCOMPARE(listed.value(QStringLiteral("command")).toString(), QStringLiteral("sleep 300"));
        QCOMPARE(listed.value(QStringLiteral("geometry")).toString(), desktop);
        QVERIFY(link.call(QStringLiteral("Nuvek.params"), {{QStringLiteral("id"), id}, {QStringLiteral("name"), QStringLiteral("Other")}})
                    .value(QStringLiteral("result")).isObject());
        QCOMPARE(findSession(link, id).value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString(),
                 QStringLiteral("Other"));
        QCOMPARE(result(link.call(QStringLiteral("Nuvek.connect"), idParam(id))), started);

        // The RDP server got the display and a private file with the password.
        const QString rdpLog = result(link.call(QStringLiteral("Nuvek.log"), {{QStringLiteral("id"), id}, {QStringLiteral("log"), QStringLiteral("rdp")}}))
                                   .value(QStringLiteral("contents")).toString();
        const int display = record(dir).value(QStringLiteral("display")).toInt();
        QVERIFY2(rdpLog.contains(QStringLiteral("display=:%1 env=:%1 mode=600 password=%2\n").arg(display).arg(password)), qPrintable(rdpLog));
        // The display takes a new size at run time, for clients with the session's cookie.
        QProcess xrandr;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
        env.insert(QStringLiteral("XAUTHORITY"), dir + QStringLiteral("/Xauthority"));
        xrandr.setProcessEnvironment(env);
        xrandr.start(QStandardPaths::findExecutable(QStringLiteral("xrandr")), {QStringLiteral("--fb"), QStringLiteral("1280x800")});
        QVERIFY(xrandr.waitForFinished(10000));
        QCOMPARE(xrandr.exitCode(), 0);

        // A viewer counts as a client until "Nuvek.disconnect" drops it; the server stays.
        QTcpSocket viewer;
        viewer.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(viewer.waitForConnected(3000));
        QTRY_COMPARE(findSession(link, id).value(QStringLiteral("clients")).toInt(), 1);
        QVERIFY(link.call(QStringLiteral("Nuvek.disconnect"), idParam(id)).value(QStringLiteral("result")).isObject());
        QVERIFY(viewer.state() == QAbstractSocket::UnconnectedState || viewer.waitForDisconnected(5000));
        listed = findSession(link, id);
        QCOMPARE(listed.value(QStringLiteral("clients")).toInt(), 0);
        QVERIFY(!listed.value(QStringLiteral("lastDisconnect")).toString().isEmpty());
        QCOMPARE(sessionPids(dir), pids);

        const QJsonArray history = result(link.call(QStringLiteral("Nuvek.bookmark"), {{QStringLiteral("op"), QStringLiteral("list")}}))
                                       .value(QStringLiteral("history")).toArray();
        QCOMPARE(history.first().toObject().value(QStringLiteral("command")).toString(), QStringLiteral("sleep 300"));

        QVERIFY(link.call(QStringLiteral("Nuvek.terminate"), idParam(id)).value(QStringLiteral("result")).isObject());
        QVERIFY(waitGone(pids, 5000));
        QVERIFY(!QFileInfo::exists(dir));
        QVERIFY(!errorText(link.call(QStringLiteral("Nuvek.connect"), idParam(id))).isEmpty());
    }

    void failedStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("geometry");
        QTest::addColumn<QString>("log"); // the log the error names, and a line of it
        QTest::addColumn<QString>("logText");
        QTest::newRow("command not found") << m_rdp << "nocommand" << "no-such-program-here" << "640x480" << "command" << "not found";
        QTest::newRow("RDP server fails") << m_failingRdp << "rdpfails" << "sleep 300" << "640x480" << "rdp" << "cannot open the display";
        QTest::newRow("no RDP server") << "/nonexistent/nuvek2_rdp" << "nordp" << "sleep 300" << "640x480" << "" << "";
        QTest::newRow("id with a line end") << m_rdp << "lineend\n" << "sleep 300" << "640x480" << "" << "";
        QTest::newRow("bad size") << m_rdp << "badsize" << "sleep 300" << "huge" << "" << "";
    }

    void failedStart()
    {
        QFETCH(QString, program);
        QFETCH(QString, id);
        QFETCH(QString, command);
        QFETCH(QString, geometry);
        QFETCH(QString, log);
        QFETCH(QString, logText);
        if (QStandardPaths::findExecutable(QStringLiteral("Xvnc")).isEmpty())
            QSKIP("Xvnc is needed");
        Link link(m_data.path(), program);
        QVERIFY(link.readMarker());
        const QJsonObject error = link.call(QStringLiteral("Nuvek.start"),
                                            {{QStringLiteral("id"), id}, {QStringLiteral("command"), command},
                                             {QStringLiteral("geometry"), geometry}})
                                      .value(QStringLiteral("error")).toObject();
        QVERIFY(!error.value(QStringLiteral("message")).toString().isEmpty());
        QCOMPARE(error.value(QStringLiteral("log")).toString(), log);
        if (!log.isEmpty()) {
            const QJsonObject contents = result(link.call(QStringLiteral("Nuvek.log"), {{QStringLiteral("id"), id}, {QStringLiteral("log"), log}}));
            QVERIFY2(contents.value(QStringLiteral("contents")).toString().contains(logText), qPrintable(contents.value(QStringLiteral("contents")).toString()));
        }
        QVERIFY(link.call(QStringLiteral("Nuvek.list")).value(QStringLiteral("result")).toArray().isEmpty());
        QVERIFY(QDir(hostDir()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    void logsComeWhole_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("NUL inside") << QByteArray("before\0after\n", 13);
        QTest::newRow("escapes beyond a reply") << QByteArray(16000, '\x01') + "last line\n";
    }

    void logsComeWhole()
    {
        QFETCH(QByteArray, log);
        QVERIFY(writeFile(serverDir() + QStringLiteral("/failed/%1/oldstart/command.log").arg(QSysInfo::machineHostName()), log));
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        const QString contents = result(link.call(QStringLiteral("Nuvek.log"), {{QStringLiteral("id"), QStringLiteral("oldstart")},
                                                                               {QStringLiteral("log"), QStringLiteral("command")}}))
                                     .value(QStringLiteral("contents")).toString();
        QVERIFY(log.endsWith(contents.toUtf8()));
        QVERIFY(contents.size() > 1000 || contents.toUtf8() == log);
    }

    void sessionsOfOthersAreLeftAlone_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("startShift");
        QTest::addColumn<QString>("bootId");
        QTest::addColumn<bool>("kept"); // the record stays
        QTest::newRow("another host's session") << "elsewhere" << 0 << "" << true;
        QTest::newRow("process id taken by a stranger") << QSysInfo::machineHostName() << 1 << "" << false;
        QTest::newRow("record of an earlier boot") << QSysInfo::machineHostName() << 0 << "0-earlier-boot" << false;
    }

    void sessionsOfOthersAreLeftAlone()
    {
        QFETCH(QString, host);
        QFETCH(int, startShift);
        QFETCH(QString, bootId);
        QFETCH(bool, kept);
        // A stranger leading its own process group, under the process id of the record.
        qint64 stranger = 0;
        QVERIFY(QProcess::startDetached(QStringLiteral("setsid"), {QStringLiteral("sleep"), QStringLiteral("60")}, QString(), &stranger));
        QTRY_VERIFY(procStat(stranger).value(2) == QByteArray::number(stranger));
        const QJsonObject process{{QStringLiteral("pid"), double(stranger)},
                                  {QStringLiteral("startTime"), QString::number(procStat(stranger).value(19).toULongLong() + startShift)},
                                  {QStringLiteral("bootId"), bootId}};
        const QString dir = serverDir() + QStringLiteral("/sessions/%1/foreign").arg(host);
        const QJsonObject stored{{QStringLiteral("id"), QStringLiteral("foreign")}, {QStringLiteral("state"), QStringLiteral("running")},
                                 {QStringLiteral("processes"), QJsonObject{{QStringLiteral("xserver"), process},
                                                                          {QStringLiteral("session"), process}}}};
        QVERIFY(writeFile(dir + QStringLiteral("/session.json"), QJsonDocument(stored).toJson()));
        {
            Link link(m_data.path(), m_rdp);
            QVERIFY(link.readMarker());
            QVERIFY(findSession(link, QStringLiteral("foreign")).isEmpty());
        }
        const bool survived = processRuns(stranger);
        ::kill(pid_t(stranger), SIGKILL);
        QVERIFY(survived);
        QCOMPARE(QFileInfo::exists(dir), kept);
        QDir(dir).removeRecursively();
    }

    void staleLocksAreTakenOver_data()
    {
        QProcess ended;
        ended.start(QStringLiteral("sleep"), {QStringLiteral("0.1")});
        QVERIFY(ended.waitForStarted());
        const qint64 endedPid = ended.processId();
        QVERIFY(ended.waitForFinished());
        const QByteArray here = QSysInfo::machineHostName().toUtf8();
        QTest::addColumn<QByteArray>("holder");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("another host that crashed") << QByteArray("elsewhere\n4242\n4242\n");
        QTest::newRow("ended process here") << here + '\n' + QByteArray::number(endedPid) + "\n1\n";
        QTest::newRow("process id taken by a stranger") << here + '\n' + QByteArray::number(::getpid()) + "\n1\n";
    }

    void staleLocksAreTakenOver()
    {
        QFETCH(QByteArray, holder);
        QVERIFY(writeFile(serverDir() + QStringLiteral("/bookmarks.lock"), holder));
        QVERIFY(writeFile(hostDir() + QStringLiteral("/state.lock"), holder));
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(link.call(QStringLiteral("Nuvek.bookmark"), {{QStringLiteral("op"), QStringLiteral("edit")},
                                                            {QStringLiteral("command"), QStringLiteral("xterm")}})
                    .value(QStringLiteral("result")).isObject());
        QVERIFY(!errorText(link.call(QStringLiteral("Nuvek.terminate"), idParam(QStringLiteral("none")))).isEmpty());
        QVERIFY2(timer.elapsed() < 15000, "waited for a lock nobody holds");
        QVERIFY(!QFileInfo::exists(hostDir() + QStringLiteral("/state.lock")));
    }

    void bookmarksAlwaysFitAReply_data()
    {
        QJsonArray many;
        for (int i = 0; i < 100; ++i)
            many.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("b%1").arg(i)}, {QStringLiteral("command"), QString(1900, QLatin1Char('c'))}});
        const QByteArray huge = QJsonDocument(QJsonObject{{QStringLiteral("bookmarks"), many}, {QStringLiteral("history"), many}}).toJson();
        const QByteArray broken("{\"bookmarks\": [ {\"id\": \"lost?\"");
        auto edit = [](const QString &id) {
            return QJsonObject{{QStringLiteral("op"), QStringLiteral("edit")}, {QStringLiteral("id"), id},
                               {QStringLiteral("command"), QString(1900, QLatin1Char('n'))}};
        };
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("list of too much") << huge << QJsonObject{{QStringLiteral("op"), QStringLiteral("list")}} << true;
        QTest::newRow("delete from too much") << huge << QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")}, {QStringLiteral("id"), QStringLiteral("b1")}} << true;
        QTest::newRow("change within too much") << huge << edit(QStringLiteral("b0")) << true;
        QTest::newRow("add to too much") << huge << edit(QString()) << false;
        QTest::newRow("add to a damaged file") << broken << edit(QString()) << true;
    }

    void bookmarksAlwaysFitAReply()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QJsonObject, params);
        QFETCH(bool, succeeds);
        QDir(serverDir()).removeRecursively();
        const QString file = serverDir() + QStringLiteral("/bookmarks.json");
        QVERIFY(writeFile(file, stored));
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        const QJsonObject reply = link.call(QStringLiteral("Nuvek.bookmark"), params);
        QCOMPARE(reply.value(QStringLiteral("result")).isObject(), succeeds);
        QCOMPARE(errorText(reply).isEmpty(), succeeds);
        QVERIFY(!result(reply).value(QStringLiteral("bookmarks")).toArray().isEmpty() || !succeeds);
        // A file that did not parse is kept aside, and said so.
        const QStringList aside = QDir(serverDir()).entryList({QStringLiteral("bookmarks.json.damaged-*")});
        QCOMPARE(aside.size(), QJsonDocument::fromJson(stored).isNull() ? 1 : 0);
        if (!aside.isEmpty()) {
            QFile kept(serverDir() + QLatin1Char('/') + aside.first());
            QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == stored);
            link.process.closeWriteChannel();
            QVERIFY(link.process.waitForFinished(5000));
            QVERIFY(link.process.readAllStandardError().contains(aside.first().toUtf8()));
        }
    }

    void requestIdsComeBackExactly_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("id"); // as the reply writes it; empty: no reply
        QTest::addColumn<int>("code");      // 0: a result
        QTest::newRow("notification") << QByteArray("{\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.version\"}") << QByteArray() << 0;
        QTest::newRow("no method") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":\"a\"}") << QByteArray("\"a\"") << -32600;
        QTest::newRow("unknown method") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"Nuvek.nothing\"}") << QByteArray("7") << -32601;
        QTest::newRow("object id") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":{\"a\":1},\"method\":\"Nuvek.version\"}") << QByteArray("null") << -32600;
        QTest::newRow("number beyond a double") << QByteArray("{\"jsonrpc\":\"2.0\",\"id\":9007199254740993,\"method\":\"Nuvek.version\"}")
                                                 << QByteArray("9007199254740993") << 0;
        QTest::newRow("escapes") << QByteArray("{\"jsonrpc\":\"2.0\", \"\\u0069d\" : \"\\u00e9\\\"}\", \"method\":\"Nuvek.version\"}")
                                 << QByteArray("\"\\u00e9\\\"}\"") << 0;
        // Its log fills most of a reply.
        auto logCall = [](int idLength) {
            return "{\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.log\",\"params\":{\"id\":\"b\",\"log\":\"command\"},\"id\":\""
                + QByteArray(idLength, 'x') + "\"}";
        };
        QTest::newRow("reply too large") << logCall(30000) << '"' + QByteArray(30000, 'x') + '"' << -32000;
        // The longest id a request can carry.
        QTest::newRow("id too long for the error") << logCall(65536 - 82) << QByteArray("null") << -32000;
    }

    void requestIdsComeBackExactly()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, id);
        QFETCH(int, code);
        QVERIFY(writeFile(serverDir() + QStringLiteral("/failed/%1/b/command.log").arg(QSysInfo::machineHostName()), QByteArray(16000, '\x01')));
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        link.process.write(QByteArray::number(request.size()) + ':' + request + ',');
        link.process.write(encodeNetString(QStringLiteral("{\"jsonrpc\":\"2.0\",\"id\":\"end\",\"method\":\"Nuvek.version\"}")));
        QByteArray reply = link.nextPayload();
        QVERIFY(!reply.isEmpty());
        if (!id.isEmpty()) {
            QVERIFY2(reply.contains("\"id\":" + id + ','), reply.left(200).constData());
            QCOMPARE(QJsonDocument::fromJson(reply).object().value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toInt(), code);
            reply = link.nextPayload();
        }
        QVERIFY(reply.contains("\"id\":\"end\""));
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000));
        QCOMPARE(link.process.exitCode(), 0);
    }

    void malformedInputEndsTheLink_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("no colon") << QByteArray("abcdefghijk");
        QTest::newRow("bad length") << QByteArray("1x:abc,");
        QTest::newRow("too long") << QByteArray("65537:");
        QTest::newRow("not json") << QByteArray("7:notjson,");
        QTest::newRow("json array") << QByteArray("7:[1,2,3],");
        QTest::newRow("empty payload") << QByteArray("0:,");
        QTest::newRow("cut short") << QByteArray("20:{\"id\":");
    }

    void malformedInputEndsTheLink()
    {
        QFETCH(QByteArray, input);
        Link link(m_data.path(), m_rdp);
        QVERIFY(link.readMarker());
        link.process.write(input);
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000));
        QCOMPARE(link.process.exitStatus(), QProcess::NormalExit);
        QVERIFY(link.process.exitCode() != 0);
        QVERIFY(link.reader.buffer().isEmpty() && link.process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNuvek2Sci)
#include "tst_nuvek2sci.moc"
