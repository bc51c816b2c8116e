// Starts copies of this test program in "--child" mode (each a SingleApplication) and of the
// client itself, all with a private $XDG_RUNTIME_DIR so that nothing else running for this user
// is disturbed.
#include "app/singleapplication.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace {

// Child mode: "--child <id>". Prints "primary" or "secondary"; a secondary sends "RAISE" and
// prints "sent:<result>", a primary prints "received:<message>" for each message until killed.
int runChild(int argc, char **argv)
{
    SingleApplication app(QString::fromLocal8Bit(argv[2]), argc, argv);
    const auto say = [](const QString &line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    };
    if (app.isRunning()) {
        say("secondary");
        say(QStringLiteral("sent:%1").arg(app.sendMessage("RAISE", 5000) ? 1 : 0));
        return 0;
    }
    QObject::connect(&app, &SingleApplication::messageReceived, [say](const QString &text) { say("received:" + text); });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    say("primary");
    return app.exec();
}

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir runtime;
    std::vector<std::unique_ptr<QProcess>> started;

    QProcess *start(const QString &program, const QStringList &arguments, const QString &home = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (!home.isEmpty()) {
            for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
                env.insert(name, home + '/' + name);
        }
        started.push_back(std::make_unique<QProcess>());
        started.back()->setProcessEnvironment(env);
        started.back()->start(program, arguments);
        return started.back().get();
    }
    QProcess *child(const QString &id) { return start(QCoreApplication::applicationFilePath(), {"--child", id}); }

    QHash<QProcess *, QByteArray> seen;

    QStringList output(QProcess *process)
    {
        return QString::fromUtf8(seen[process] += process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    bool waitForLine(QProcess *process, const QString &line, int count = 1)
    {
        return QTest::qWaitFor([&] { return output(process).count(line) >= count; }, 10000);
    }

private slots:
    void initTestCase()
    {
        // So that serverName() here names what the children use.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }

    void cleanup()
    {
        for (auto &process : started)
            stopProcess(*process);
        started.clear();
        seen.clear();
    }

    // The client raises a running copy and leaves; a crashed copy's leftovers do not stop the
    // next client from becoming the first copy itself.
    void clientSendsRaiseToRunningCopy()
    {
        const QString nuvek = nuvekBinDir() + "/nuvek";
        if (!QFileInfo(nuvek).isExecutable())
            QSKIP("nuvek is not built");
        QTemporaryDir home;
        QProcess *standIn = child("Nuvek 2");
        QVERIFY(waitForLine(standIn, "primary"));
        QProcess *client = start(nuvek, {}, home.path());
        QVERIFY(client->waitForFinished(5000));
        QCOMPARE(client->exitCode(), 0);
        QVERIFY(waitForLine(standIn, "received:RAISE"));
        standIn->kill();
        QVERIFY(standIn->waitForFinished(5000));
        // Its stale lock stays; the socket goes, so that the client's own shows when it listens.
        QVERIFY(QFile::remove(SingleApplication::serverName("Nuvek 2")));
        QProcess *running = start(nuvek, {}, home.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(SingleApplication::serverName("Nuvek 2")), 10000);
        QProcess *second = start(nuvek, {}, home.path());
        QVERIFY(second->waitForFinished(5000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(running->state(), QProcess::Running);
    }
};

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestSingleApplication test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleapplication.moc"
