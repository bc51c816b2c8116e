// Starts copies of this test program in "--child" mode (each a SingleApplication)
// and of the client itself, all with a private $XDG_RUNTIME_DIR so that nothing
// else running for this user is disturbed.
#include "app/singleapplication.h"
#include "support/testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Child mode: "--child <id> [<message>]". Prints "primary" or "secondary", then a
// secondary sends the message ("RAISE" by default) and prints "sent:<result>",
// and a primary prints "received:<message>" for each message until killed (or
// 60 seconds have passed).
int runChild(int argc, char **argv)
{
    const QString id = QString::fromLocal8Bit(argv[2]);
    const QString message = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("RAISE");
    SingleApplication app(id, argc, argv);
    auto say = [](const QString &line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    };
    if (app.isRunning()) {
        say(QStringLiteral("secondary"));
        say(QStringLiteral("sent:%1").arg(app.sendMessage(message, 5000) ? 1 : 0));
        return 0;
    }
    QObject::connect(&app, &SingleApplication::messageReceived,
                     [say](const QString &text) { say(QStringLiteral("received:") + text); });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    say(QStringLiteral("primary"));
    return app.exec();
}

} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runtime;
    QList<QProcess *> m_started;
    QHash<QProcess *, QByteArray> m_seen;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    QProcess *start(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &env)
    {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(program, arguments);
        m_started << process;
        return process;
    }

    // Everything each process printed so far, line by line.
    QStringList output(QProcess *process)
    {
        QByteArray &seen = m_seen[process];
        seen += process->readAllStandardOutput();
        return QString::fromUtf8(seen).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Waits until the process has printed `line`.
    bool waitForLine(QProcess *process, const QString &line, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (output(process).contains(line))
                return true;
            if (timer.elapsed() > timeoutMs || process->state() == QProcess::NotRunning)
                return output(process).contains(line);
            process->waitForReadyRead(100);
        }
    }

    QProcess *child(const QString &id, const QString &message = QString())
    {
        QStringList arguments{QStringLiteral("--child"), id};
        if (!message.isNull())
            arguments << message;
        return start(QCoreApplication::applicationFilePath(), arguments, environment());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        // So that lockFilePath() and serverName() here name what the children use.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void cleanup()
    {
        for (QProcess *process : qAsConst(m_started)) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
            delete process;
        }
        m_started.clear();
        m_seen.clear();
    }

    void secondCopyRaisesFirst()
    {
        QProcess *first = child(QStringLiteral("raise test"));
        QVERIFY(waitForLine(first, QStringLiteral("primary")));

        QElapsedTimer timer;
        timer.start();
        QProcess *second = child(QStringLiteral("raise test"));
        QVERIFY(second->waitForFinished(5000));
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(output(second), (QStringList{"secondary", "sent:1"}));
        QVERIFY(waitForLine(first, QStringLiteral("received:RAISE")));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void messageTextArrivesUnchanged()
    {
        const QString text = QString::fromUtf8("grüße, \"7:x,\" \n%1");
        QProcess *first = child(QStringLiteral("text test"));
        QVERIFY(waitForLine(first, QStringLiteral("primary")));
        QProcess *second = child(QStringLiteral("text test"), text);
        QVERIFY(second->waitForFinished(5000));
        QVERIFY(waitForLine(first, QStringLiteral("received:grüße, \"7:x,\" ")));
        QVERIFY(output(first).contains(QStringLiteral("%1")));
    }

    void differentIdsDoNotMeet()
    {
        QProcess *a = child(QStringLiteral("id a"));
        QProcess *b = child(QStringLiteral("id b"));
        QVERIFY(waitForLine(a, QStringLiteral("primary")));
        QVERIFY(waitForLine(b, QStringLiteral("primary")));
    }

    void copiesStartedAtOnceElectOnePrimary()
    {
        const QString id = QStringLiteral("race test");
        QList<QProcess *> copies;
        for (int i = 0; i < 4; ++i)
            copies << child(id);
        QList<QProcess *> secondaries;
        QProcess *primary = nullptr;
        for (QProcess *copy : copies) {
            QElapsedTimer timer;
            timer.start();
            while (!output(copy).contains(QStringLiteral("primary"))
                   && copy->state() != QProcess::NotRunning && timer.elapsed() < 10000)
                copy->waitForFinished(100);
            if (output(copy).contains(QStringLiteral("primary"))) {
                QVERIFY2(!primary, "two copies became the primary");
                primary = copy;
            } else {
                secondaries << copy;
            }
        }
        QVERIFY(primary);
        QCOMPARE(secondaries.size(), 3);
        for (QProcess *copy : qAsConst(secondaries)) {
            QCOMPARE(copy->exitCode(), 0);
            QCOMPARE(output(copy), (QStringList{"secondary", "sent:1"}));
        }
        QElapsedTimer timer;
        timer.start();
        while (output(primary).count(QStringLiteral("received:RAISE")) < 3 && timer.elapsed() < 5000)
            primary->waitForReadyRead(100);
        QCOMPARE(output(primary).count(QStringLiteral("received:RAISE")), 3);
    }

    void recoversAfterCrash()
    {
        const QString id = QStringLiteral("crash test");
        QProcess *crashed = child(id);
        QVERIFY(waitForLine(crashed, QStringLiteral("primary")));
        crashed->kill();
        QVERIFY(crashed->waitForFinished(5000));
        // Both the lock and the socket were left behind.
        QVERIFY(QFileInfo::exists(SingleApplication::lockFilePath(id)));
        QVERIFY(QFileInfo::exists(SingleApplication::serverName(id)));

        QProcess *next = child(id);
        QVERIFY(waitForLine(next, QStringLiteral("primary"), 3000));
        QProcess *second = child(id);
        QVERIFY(second->waitForFinished(5000));
        QCOMPARE(output(second), (QStringList{"secondary", "sent:1"}));
        QVERIFY(waitForLine(next, QStringLiteral("received:RAISE")));
    }

    void longRunningCopyKeepsItsLock()
    {
        const QString id = QStringLiteral("age test");
        QProcess *first = child(id);
        QVERIFY(waitForLine(first, QStringLiteral("primary")));
        // As if the first copy had been running for a day.
        QFile lock(SingleApplication::lockFilePath(id));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                 QFileDevice::FileModificationTime));
        lock.close();

        QProcess *second = child(id);
        QVERIFY(second->waitForFinished(5000));
        QCOMPARE(output(second), (QStringList{"secondary", "sent:1"}));
        QVERIFY(waitForLine(first, QStringLiteral("received:RAISE")));
    }

    void namesAreUserScopedAndPrivate()
    {
        const QString id = QStringLiteral("scope test");
        QProcess *first = child(id);
        QVERIFY(waitForLine(first, QStringLiteral("primary")));
        const QString socket = SingleApplication::serverName(id);
        QVERIFY(socket.startsWith(m_runtime.path() + '/'));
        QVERIFY(QFileInfo(socket).fileName().contains(QStringLiteral("-%1-").arg(geteuid())));
        QVERIFY(QFileInfo(SingleApplication::lockFilePath(id))
                    .fileName()
                    .contains(QStringLiteral("-%1-").arg(geteuid())));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(socket).constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(int(info.st_mode & 077), 0);
    }

    void clientSendsRaiseToRunningCopy()
    {
        const QString nuvek = nuvekBinDir() + QStringLiteral("/nuvek");
        if (!QFileInfo(nuvek).isExecutable())
            QSKIP("nuvek is not built");
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath("data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath("config"));

        // A stand-in with the client's own id receives what the client sends.
        QProcess *standIn = child(QStringLiteral("Nuvek 2"));
        QVERIFY(waitForLine(standIn, QStringLiteral("primary")));
        QElapsedTimer timer;
        timer.start();
        QProcess *client = start(nuvek, {}, env);
        QVERIFY(client->waitForFinished(5000));
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(client->exitStatus(), QProcess::NormalExit);
        QCOMPARE(client->exitCode(), 0);
        QVERIFY(waitForLine(standIn, QStringLiteral("received:RAISE")));
        standIn->kill();
        QVERIFY(standIn->waitForFinished(5000));
        // Its stale lock stays; the socket goes, so that the client's own shows when it listens.
        QVERIFY(QFile::remove(SingleApplication::serverName(QStringLiteral("Nuvek 2"))));

        // Now the client is the first copy, and a second client leaves at once.
        QProcess *running = start(nuvek, {}, env);
        QVERIFY(running->waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(SingleApplication::serverName(QStringLiteral("Nuvek 2"))), 10000);
        timer.restart();
        QProcess *second = start(nuvek, {}, env);
        QVERIFY(second->waitForFinished(5000));
        QVERIFY(timer.elapsed() < 3000);
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
