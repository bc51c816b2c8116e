// Drives the real nuvek2_sci program over its standard input and output.
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
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QString binDir()
{
    const QString fromEnv = qEnvironmentVariable("NUVEK_BIN_DIR");
    return fromEnv.isEmpty() ? nuvekBinDir() : fromEnv;
}

// Running and not a zombie (nobody may reap orphans where the tests run).
bool processRuns(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool waitGone(const QList<qint64> &pids, int ms)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        bool any = false;
        for (qint64 pid : pids)
            any = any || processRuns(pid);
        if (!any)
            return true;
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
}

// True when 127.0.0.1:port (and no other address) has a listening socket.
bool listensOnLoopbackOnly(quint16 port)
{
    bool loopback = false, other = false;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine();
        while (!file.atEnd()) {
            const QList<QByteArray> f = file.readLine().simplified().split(' ');
            if (f.size() < 4 || f[3] != "0A")
                continue;
            const QList<QByteArray> local = f[1].split(':');
            if (local.size() != 2 || local[1].toUInt(nullptr, 16) != port)
                continue;
            (local[0] == "0100007F" ? loopback : other) = true;
        }
    }
    return loopback && !other;
}

// One link: the program, the reader of its replies.
class Link
{
public:
    explicit Link(const QString &dataHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process.setProcessEnvironment(env);
        process.setProgram(binDir() + QStringLiteral("/nuvek2_sci"));
        process.setReadChannel(QProcess::StandardOutput);
        process.start();
    }
    ~Link()
    {
        if (process.state() != QProcess::NotRunning) {
            process.closeWriteChannel();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(2000);
            }
        }
    }

    bool readMarker()
    {
        while (received.size() < NetStringStartMarker.size()) {
            if (!process.waitForReadyRead(5000))
                return false;
            received += process.readAllStandardOutput();
        }
        const bool ok = received.startsWith(NetStringStartMarker);
        reader.buffer() = received.mid(NetStringStartMarker.size());
        return ok;
    }

    QJsonObject call(const QString &method, const QJsonObject &params = {}, int timeoutMs = 30000)
    {
        const QString id = QStringLiteral("req%1").arg(++counter);
        const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                  {QStringLiteral("id"), id},
                                  {QStringLiteral("method"), method},
                                  {QStringLiteral("params"), params}};
        process.write(encodeNetString(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))));
        QElapsedTimer timer;
        timer.start();
        QByteArray payload;
        while (reader.takeNetString(payload) != NetStringReader::Take::Payload) {
            if (reader.state() == NetStringReader::Failed || timer.elapsed() > timeoutMs)
                return {};
            process.waitForReadyRead(100);
            reader.buffer() += process.readAllStandardOutput();
        }
        const QJsonObject reply = QJsonDocument::fromJson(payload).object();
        if (reply.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0")
            || reply.value(QStringLiteral("id")).toString() != id)
            return {};
        return reply;
    }

    QProcess process;
    QByteArray received;
    NetStringReader reader{nullptr, "test"};
    int counter = 0;
};

QJsonObject result(const QJsonObject &reply) { return reply.value(QStringLiteral("result")).toObject(); }
QJsonObject error(const QJsonObject &reply) { return reply.value(QStringLiteral("error")).toObject(); }

} // namespace

class TestNuvek2Sci : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_data;
    QStringList m_started; // session ids to terminate in cleanup

    QString serverDir() const { return m_data.path() + QStringLiteral("/Ostrane Rodorivezozoru/Nuvek/server"); }

    QList<qint64> sessionPids(const QString &id) const
    {
        QFile file(serverDir() + QStringLiteral("/sessions/") + id + QStringLiteral("/session.json"));
        QList<qint64> pids;
        if (!file.open(QIODevice::ReadOnly))
            return pids;
        const QJsonObject processes =
            QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("processes")).toObject();
        for (const char *name : {"xvfb", "rdp", "session"})
            pids << qint64(processes.value(QLatin1String(name)).toObject().value(QStringLiteral("pid")).toDouble());
        return pids;
    }

    QJsonObject startSession(Link &link, const QString &id, const QString &command)
    {
        m_started << id;
        return link.call(QStringLiteral("Nuvek.start"),
                         {{QStringLiteral("id"), id},
                          {QStringLiteral("command"), command},
                          {QStringLiteral("geometry"), QStringLiteral("800x600")},
                          {QStringLiteral("name"), QStringLiteral("Test")}});
    }

    QJsonObject findSession(Link &link, const QString &id)
    {
        const QJsonArray list = link.call(QStringLiteral("Nuvek.list")).value(QStringLiteral("result")).toArray();
        for (const QJsonValue &v : list) {
            if (v.toObject().value(QStringLiteral("id")).toString() == id)
                return v.toObject();
        }
        return {};
    }

    void checkConnectReply(const QJsonObject &reply)
    {
        const QJsonObject r = result(reply);
        QVERIFY2(!r.isEmpty(), QJsonDocument(reply).toJson().constData());
        QVERIFY(r.value(QStringLiteral("port")).isDouble());
        QVERIFY(r.value(QStringLiteral("port")).toInt() > 0 && r.value(QStringLiteral("port")).toInt() < 65536);
        QCOMPARE(r.value(QStringLiteral("password")).toString().size(), 32);
        QCOMPARE(r.value(QStringLiteral("geometry")).toString(), QStringLiteral("800x600"));
        QVERIFY(r.value(QStringLiteral("windowMode")).isString());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        QVERIFY(QFileInfo(binDir() + QStringLiteral("/nuvek2_sci")).isExecutable());
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("freerdp-shadow-cli")).isEmpty())
            QSKIP("Xvfb and freerdp-shadow-cli are needed");
    }

    void cleanupTestCase()
    {
        Link link(m_data.path());
        if (link.readMarker()) {
            for (const QString &id : qAsConst(m_started))
                link.call(QStringLiteral("Nuvek.terminate"), {{QStringLiteral("id"), id}});
        }
        // Whatever is left of a failed test goes the hard way.
        const QStringList ids = QDir(serverDir() + QStringLiteral("/sessions")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &id : ids) {
            for (qint64 pid : sessionPids(id)) {
                if (pid > 0)
                    ::kill(pid_t(-pid), SIGKILL);
            }
        }
    }

    void writesMarkerAndAnswersSmallMethods()
    {
        Link link(m_data.path());
        QVERIFY(link.readMarker());

        // "Nuvek.version": any object; "Nuvek.list": an array.
        QVERIFY(link.call(QStringLiteral("Nuvek.version")).value(QStringLiteral("result")).isObject());
        QVERIFY(link.call(QStringLiteral("Nuvek.list")).value(QStringLiteral("result")).isArray());

        // Suggestions come from the host: xterm is installed here.
        const QJsonObject list = result(link.call(QStringLiteral("Nuvek.bookmark"), {{QStringLiteral("op"), QStringLiteral("list")}}));
        for (const char *key : {"suggestions", "bookmarks", "history"})
            QVERIFY2(list.value(QLatin1String(key)).isArray(), key);
        bool xterm = false;
        for (const QJsonValue &v : list.value(QStringLiteral("suggestions")).toArray()) {
            const QJsonObject s = v.toObject();
            QVERIFY(!s.value(QStringLiteral("id")).toString().isEmpty());
            QVERIFY(s.value(QStringLiteral("name")).isString() && s.value(QStringLiteral("geometry")).isString());
            xterm = xterm || s.value(QStringLiteral("command")).toString().startsWith(QLatin1String("xterm"));
        }
        QVERIFY(xterm);

        // Bookmarks: add, change, delete; each reply carries both lists.
        QJsonObject edited = result(link.call(QStringLiteral("Nuvek.bookmark"),
                                              {{QStringLiteral("op"), QStringLiteral("edit")},
                                               {QStringLiteral("name"), QStringLiteral("Mine")},
                                               {QStringLiteral("command"), QStringLiteral("xterm -fg red")},
                                               {QStringLiteral("geometry"), QStringLiteral("rootless")}}));
        QVERIFY(edited.value(QStringLiteral("history")).isArray());
        QJsonArray bookmarks = edited.value(QStringLiteral("bookmarks")).toArray();
        QCOMPARE(bookmarks.size(), 1);
        const QString bookmarkId = bookmarks[0].toObject().value(QStringLiteral("id")).toString();
        QVERIFY(!bookmarkId.isEmpty());
        QCOMPARE(bookmarks[0].toObject().value(QStringLiteral("geometry")).toString(), QStringLiteral("rootless"));
        edited = result(link.call(QStringLiteral("Nuvek.bookmark"),
                                  {{QStringLiteral("op"), QStringLiteral("edit")},
                                   {QStringLiteral("id"), bookmarkId},
                                   {QStringLiteral("name"), QStringLiteral("Renamed")},
                                   {QStringLiteral("command"), QStringLiteral("xterm -fg red")},
                                   {QStringLiteral("geometry"), QStringLiteral("640x480")}}));
        bookmarks = edited.value(QStringLiteral("bookmarks")).toArray();
        QCOMPARE(bookmarks.size(), 1);
        QCOMPARE(bookmarks[0].toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Renamed"));
        QCOMPARE(bookmarks[0].toObject().value(QStringLiteral("id")).toString(), bookmarkId);
        edited = result(link.call(QStringLiteral("Nuvek.bookmark"),
                                  {{QStringLiteral("op"), QStringLiteral("delete")}, {QStringLiteral("id"), bookmarkId}}));
        QVERIFY(edited.value(QStringLiteral("bookmarks")).toArray().isEmpty());

        // Errors the client shows carry a string "message".
        for (const char *method : {"Nuvek.connect", "Nuvek.disconnect", "Nuvek.terminate"}) {
            const QJsonObject e = error(link.call(QLatin1String(method), {{QStringLiteral("id"), QStringLiteral("nosuchsession")}}));
            QVERIFY2(!e.value(QStringLiteral("message")).toString().isEmpty(), method);
        }
        // Names that could leave the data folder are refused.
        QVERIFY(!error(link.call(QStringLiteral("Nuvek.log"), {{QStringLiteral("id"), QStringLiteral("../sessions")},
                                                                 {QStringLiteral("log"), QStringLiteral("command")}}))
                     .isEmpty());
        // A bad size fails at once, without a log to fetch.
        const QJsonObject bad = error(link.call(QStringLiteral("Nuvek.start"), {{QStringLiteral("id"), QStringLiteral("badsize")},
                                                                              {QStringLiteral("command"), QStringLiteral("xterm")},
                                                                              {QStringLiteral("geometry"), QStringLiteral("huge")}}));
        QVERIFY(!bad.value(QStringLiteral("message")).toString().isEmpty());
        QVERIFY(!bad.contains(QStringLiteral("log")));
        QVERIFY(error(link.call(QStringLiteral("Nuvek.nothing"))).value(QStringLiteral("code")).isDouble());
    }

    void failedStartNamesItsLog()
    {
        Link link(m_data.path());
        QVERIFY(link.readMarker());
        const QJsonObject e = error(startSession(link, QStringLiteral("failingstart"), QStringLiteral("no-such-program-here")));
        QVERIFY(!e.value(QStringLiteral("message")).toString().isEmpty());
        QCOMPARE(e.value(QStringLiteral("id")).toString(), QStringLiteral("failingstart"));
        QVERIFY(e.contains(QStringLiteral("log")));
        const QJsonObject log = result(link.call(QStringLiteral("Nuvek.log"), {{QStringLiteral("id"), e.value(QStringLiteral("id"))},
                                                                              {QStringLiteral("log"), e.value(QStringLiteral("log"))}}));
        QVERIFY2(log.value(QStringLiteral("contents")).toString().contains(QLatin1String("not found")),
                 qPrintable(log.value(QStringLiteral("contents")).toString()));
        QVERIFY(findSession(link, QStringLiteral("failingstart")).isEmpty());
    }

    void sessionLifecycle()
    {
        const QString id = QStringLiteral("0123456789abcdef0123456789abcdef");
        quint16 port = 0;
        QString password;
        {
            Link link(m_data.path());
            QVERIFY(link.readMarker());
            const QJsonObject reply = startSession(link, id, QStringLiteral("xterm"));
            checkConnectReply(reply);
            port = quint16(result(reply).value(QStringLiteral("port")).toInt());
            password = result(reply).value(QStringLiteral("password")).toString();
        } // the link ends; the session must not

        QVERIFY(listensOnLoopbackOnly(port));
        const QList<qint64> pids = sessionPids(id);
        QCOMPARE(pids.size(), 3);
        for (qint64 pid : pids)
            QVERIFY(processRuns(pid));

        Link link(m_data.path());
        QVERIFY(link.readMarker());
        const QJsonObject listed = findSession(link, id);
        QVERIFY(!listed.isEmpty());
        QCOMPARE(listed.value(QStringLiteral("command")).toString(), QStringLiteral("xterm"));
        QCOMPARE(listed.value(QStringLiteral("geometry")).toString(), QStringLiteral("800x600"));
        QCOMPARE(listed.value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Test"));
        QVERIFY(listed.value(QStringLiteral("clients")).isDouble());
        QVERIFY(listed.value(QStringLiteral("windowMode")).isString());
        QVERIFY(QDateTime::fromString(listed.value(QStringLiteral("started")).toString(), QStringLiteral("yyyy-MM-ddThh:mm:ss")).isValid());
        QVERIFY(listed.value(QStringLiteral("lastConnect")).isString());
        QVERIFY(listed.value(QStringLiteral("lastDisconnect")).isString());

        // Renaming shows in the next list.
        QVERIFY(link.call(QStringLiteral("Nuvek.params"), {{QStringLiteral("id"), id}, {QStringLiteral("name"), QStringLiteral("Other")}})
                    .value(QStringLiteral("result")).isObject());
        QCOMPARE(findSession(link, id).value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString(),
                 QStringLiteral("Other"));

        const QJsonObject connect = link.call(QStringLiteral("Nuvek.connect"), {{QStringLiteral("id"), id}});
        checkConnectReply(connect);
        QCOMPARE(result(connect).value(QStringLiteral("port")).toInt(), int(port));
        QCOMPARE(result(connect).value(QStringLiteral("password")).toString(), password);
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(socket.waitForConnected(3000));
        socket.abort();

        // The started command went into the history.
        const QJsonArray history = result(link.call(QStringLiteral("Nuvek.bookmark"), {{QStringLiteral("op"), QStringLiteral("list")}}))
                                       .value(QStringLiteral("history")).toArray();
        QVERIFY(!history.isEmpty());
        QCOMPARE(history[0].toObject().value(QStringLiteral("command")).toString(), QStringLiteral("xterm"));

        // Garbage on another link ends that link only.
        {
            Link broken(m_data.path());
            QVERIFY(broken.readMarker());
            broken.process.write("12345678901234");
            QVERIFY(broken.process.waitForFinished(5000));
            QCOMPARE(broken.process.exitStatus(), QProcess::NormalExit);
            QVERIFY(broken.process.exitCode() != 0);
        }
        QVERIFY(!findSession(link, id).isEmpty());

        QVERIFY(link.call(QStringLiteral("Nuvek.terminate"), {{QStringLiteral("id"), id}}).value(QStringLiteral("result")).isObject());
        QVERIFY(waitGone(pids, 5000));
        QVERIFY(findSession(link, id).isEmpty());
        QVERIFY(!QFileInfo::exists(serverDir() + QStringLiteral("/sessions/") + id));
    }

    void rdpLoginUsesTheSessionPassword()
    {
        const QString xfreerdp = QStandardPaths::findExecutable(QStringLiteral("xfreerdp"));
        if (xfreerdp.isEmpty())
            QSKIP("xfreerdp is needed");
        const QString id = QStringLiteral("rdplogin");
        Link link(m_data.path());
        QVERIFY(link.readMarker());
        const QJsonObject started = result(startSession(link, id, QStringLiteral("sleep 300")));
        const int port = started.value(QStringLiteral("port")).toInt();
        QVERIFY(port > 0);
        const QString password = started.value(QStringLiteral("password")).toString();

        // The viewer needs a display of its own.
        QProcess viewerDisplay;
        viewerDisplay.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY(viewerDisplay.waitForReadyRead(10000));
        const QString display = QLatin1Char(':') + QString::fromLatin1(viewerDisplay.readAllStandardOutput().trimmed());
        auto viewer = [&](QProcess &p, const QString &pass) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display);
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(xfreerdp, {QStringLiteral("/sec:rdp"), QStringLiteral("/cert:ignore"),
                               QStringLiteral("/v:127.0.0.1:%1").arg(port), QStringLiteral("/u:nuvek"),
                               QStringLiteral("/p:") + pass});
        };

        QProcess wrong;
        viewer(wrong, QStringLiteral("not-the-password"));
        QVERIFY(wrong.waitForFinished(10000));
        QVERIFY(wrong.exitCode() != 0);

        QProcess right;
        viewer(right, password);
        QVERIFY(!right.waitForFinished(3000)); // still connected
        QTRY_COMPARE_WITH_TIMEOUT(findSession(link, id).value(QStringLiteral("clients")).toInt(), 1, 5000);
        QVERIFY(!findSession(link, id).value(QStringLiteral("lastConnect")).toString().isEmpty());

        // Disconnect drops the viewer; the session stays.
        QVERIFY(link.call(QStringLiteral("Nuvek.disconnect"), {{QStringLiteral("id"), id}}).value(QStringLiteral("result")).isObject());
        QVERIFY(right.waitForFinished(10000));
        const QJsonObject after = findSession(link, id);
        QCOMPARE(after.value(QStringLiteral("clients")).toInt(), 0);
        QVERIFY(!after.value(QStringLiteral("lastDisconnect")).toString().isEmpty());
        QCOMPARE(result(link.call(QStringLiteral("Nuvek.connect"), {{QStringLiteral("id"), id}})).value(QStringLiteral("port")).toInt(), port);
        QVERIFY(listensOnLoopbackOnly(quint16(port)));

        viewerDisplay.terminate();
        viewerDisplay.waitForFinished(5000);
        QVERIFY(link.call(QStringLiteral("Nuvek.terminate"), {{QStringLiteral("id"), id}}).value(QStringLiteral("result")).isObject());
    }

    void sessionWithKilledProcessesIsGone()
    {
        const QString id = QStringLiteral("killedsession");
        Link link(m_data.path());
        QVERIFY(link.readMarker());
        QVERIFY(!result(startSession(link, id, QStringLiteral("sleep 300"))).isEmpty());
        const QList<qint64> pids = sessionPids(id);
        QCOMPARE(pids.size(), 3);
        ::kill(pid_t(-pids[2]), SIGKILL); // the command's process group
        QVERIFY(waitGone({pids[2]}, 3000));
        QVERIFY(findSession(link, id).isEmpty());
        // What was left of it (display, RDP server) is cleaned away.
        QVERIFY(waitGone(pids, 5000));
        QVERIFY(!error(link.call(QStringLiteral("Nuvek.connect"), {{QStringLiteral("id"), id}})).isEmpty());
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
        Link link(m_data.path());
        QVERIFY(link.readMarker());
        link.process.write(input);
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000));
        QCOMPARE(link.process.exitStatus(), QProcess::NormalExit);
        QVERIFY(link.process.exitCode() != 0);
        // Nothing but the marker was written.
        QVERIFY(link.reader.buffer().isEmpty() && link.process.readAllStandardOutput().isEmpty());
    }

    void requestsThatAreNotCallsGetErrors()
    {
        Link link(m_data.path());
        QVERIFY(link.readMarker());
        // A notification gets no reply; a request without a method gets an error.
        link.process.write(encodeNetString(QStringLiteral("{\"jsonrpc\":\"2.0\",\"method\":\"Nuvek.version\"}")));
        link.process.write(encodeNetString(QStringLiteral("{\"jsonrpc\":\"2.0\",\"id\":\"a\"}")));
        QByteArray payload;
        QElapsedTimer timer;
        timer.start();
        while (link.reader.takeNetString(payload) != NetStringReader::Take::Payload && timer.elapsed() < 5000) {
            link.process.waitForReadyRead(100);
            link.reader.buffer() += link.process.readAllStandardOutput();
        }
        const QJsonObject reply = QJsonDocument::fromJson(payload).object();
        QCOMPARE(reply.value(QStringLiteral("id")).toString(), QStringLiteral("a"));
        QCOMPARE(error(reply).value(QStringLiteral("code")).toInt(), -32600);
        // The link goes on and ends cleanly with the input.
        QVERIFY(link.call(QStringLiteral("Nuvek.version")).value(QStringLiteral("result")).isObject());
        link.process.closeWriteChannel();
        QVERIFY(link.process.waitForFinished(5000));
        QCOMPARE(link.process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNuvek2Sci)
#include "tst_nuvek2sci.moc"
