#include "connections/connection.h"
#include "connections/connectionfolders.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(Connection)

namespace {

const QUuid LabUid("{0f8fad5b-d9cb-469f-a165-70867728950e}");

Connection connection(const QString &name, const QString &host = QString(), quint16 port = 22,
                      const QString &user = QString(), const QString &sci = QString(), bool fips = false)
{
    Connection c;
    c.setUid(LabUid);
    c.setName(name);
    c.setHost(host);
    c.setPort(port);
    c.setUser(user);
    c.setSci(sci);
    c.setFips(fips);
    return c;
}

QString describe(const Connection &c)
{
    if (!c.isValid())
        return QString();
    return QStringList{c.name(), c.host(), QString::number(c.port()), c.user(), c.sci(), c.fips() ? "fips" : ""}.join('|');
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray profileXml(const QUuid &uid, const QString &name)
{
    return QStringLiteral("<SshConnection><Uid>%1</Uid><Name>%2</Name></SshConnection>").arg(uid.toString(), name).toUtf8();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A FIFO and a thread that waits to write to it: whoever opens it for reading is seen.
class WatchedFifo
{
public:
    explicit WatchedFifo(const QString &path) : m_path(QFile::encodeName(path))
    {
        ::mkfifo(m_path.constData(), 0600);
        m_writer = std::thread([this]() {
            const int fd = ::open(m_path.constData(), O_WRONLY);
            if (!m_releasing)
                m_opened = true;
            if (fd >= 0)
                ::close(fd);
        });
    }
    ~WatchedFifo()
    {
        m_releasing = true;
        const int fd = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK);
        m_writer.join();
        if (fd >= 0)
            ::close(fd);
    }
    bool opened() const { return m_opened; }

private:
    QByteArray m_path;
    std::atomic_bool m_releasing{false};
    std::atomic_bool m_opened{false};
    std::thread m_writer;
};

} // namespace

class TestConnectionFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<Connection>("profile");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("absentElements");
        QTest::newRow("defaults") << connection("Plain") << "Plain||22|||"
                                  << QStringList{"Host", "Port", "User", "Sci", "Fips"};
        const QString odd = QString::fromUtf8("a<b> & \"c\" 'd' ]]> Zoë 東京 \U0001F600");
        QTest::newRow("escaping") << connection(odd, "h&st<1>", 22, "u\"ser'", "/opt/x y/sci --f=\"a&b\"")
                                  << odd + "|h&st<1>|22|u\"ser'|/opt/x y/sci --f=\"a&b\"|" << QStringList{"Port", "Fips"};
        QTest::newRow("every field") << connection("Full", "10.0.0.1", 65535, "root", "sci", true)
                                     << "Full|10.0.0.1|65535|root|sci|fips" << QStringList();
        // Characters XML cannot hold are dropped: the file stays valid and the profile listed.
        QTest::newRow("unwritable characters")
            << connection(QString("La") + QChar(0x01) + "b" + QChar(0xFFFF), QString(), 1, QString("o") + QChar(0x1B) + "ps")
            << "Lab||1|ops||" << QStringList();
    }

    void roundTrip()
    {
        QFETCH(Connection, profile);
        QFETCH(QString, expected);
        QFETCH(QStringList, absentElements);
        QTemporaryDir dir;
        const QString path = dir.filePath("p.kcf2");
        QString error;
        QVERIFY2(saveConnection(path, profile, error), qPrintable(error));
        for (const QString &element : absentElements)
            QVERIFY2(!readFile(path).contains("<" + element.toUtf8()), qPrintable(element));
        QCOMPARE(describe(loadConnection(path)), expected);
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected"); // empty: skipped as broken
        const QByteArray head = "<SshConnection><Uid>" + LabUid.toString().toUtf8() + "</Uid><Name>N</Name>";
        QTest::newRow("Port text") << head + "<Port>ssh</Port></SshConnection>" << "";
        QTest::newRow("missing Name") << "<SshConnection><Uid>" + LabUid.toString().toUtf8() + "</Uid></SshConnection>" << "";
        // Loaded as they are; the editor refuses to save such a host.
        QTest::newRow("host like an option") << head + "<Host>-oProxyCommand=x</Host></SshConnection>"
                                             << "N|-oProxyCommand=x|22|||";
        // Where a profile says its schema is, nothing is fetched ("@"): the built-in schema decides.
        const QByteArray hint = "<SshConnection xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:";
        const QByteArray rest = head.mid(head.indexOf('>') + 1) + "</SshConnection>";
        QTest::newRow("schema hint, http") << hint + "noNamespaceSchemaLocation=\"@http\">" + rest << "N||22|||";
        QTest::newRow("namespaced schema hint, http") << hint + "schemaLocation=\"urn:profiles @http\">" + rest
                                                      << "N||22|||";
        QTest::newRow("schema hint, fifo") << hint + "noNamespaceSchemaLocation=\"@fifo\">" + rest << "N||22|||";
        // Files that are no profile are refused without a long look.
        QByteArray attributes;
        for (int i = 0; i < 100000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        QTest::newRow("100000 attributes") << "<SshConnection" + attributes + ">" + rest << "";
        QTest::newRow("a name of 1 MiB") << head + "<Host>" + QByteArray(1 << 20, 'h') + "</Host></SshConnection>" << "";
        QTest::newRow("a fifo") << QByteArray("@fifo") << "";
    }

    void reading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QUuid goodUid = QUuid::createUuid();
        QVERIFY(writeFile(dir.filePath("good.kcf2"), profileXml(goodUid, "good")));
        // A web server that counts requests, and a FIFO that sees whoever opens it.
        QTcpServer web;
        QVERIFY(web.listen(QHostAddress::LocalHost));
        const QString fifoPath = dir.filePath(content == "@fifo" ? "read.kcf2" : "schema.fifo");
        WatchedFifo fifo(fifoPath);
        content.replace("@http", QString("http://127.0.0.1:%1/profile.xsd").arg(web.serverPort()).toUtf8());
        content.replace("@fifo", QUrl::fromLocalFile(fifoPath).toEncoded());
        if (!QFileInfo(fifoPath).fileName().startsWith("read"))
            QVERIFY(writeFile(dir.filePath("read.kcf2"), content));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(describe(loadConnection(dir.filePath("read.kcf2"))), expected);
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::processEvents();
        QVERIFY(!web.hasPendingConnections());
        QVERIFY(!fifo.opened());
        // A broken file is left out of the list, the others stay.
        const LoadedConnections loaded = loadConnectionFolders(QString(), dir.path());
        QCOMPARE(loaded.connections.size(), expected.isEmpty() ? 1 : 2);
        QVERIFY(loaded.files.contains(goodUid));
    }

    void folders()
    {
        QTemporaryDir global, user;
        const QUuid shared = QUuid::createUuid(), own = QUuid::createUuid();
        QVERIFY(writeFile(global.filePath("a.kcf2"), profileXml(shared, "global copy")));
        QVERIFY(writeFile(user.filePath("a.kcf2"), profileXml(shared, "user copy")));
        QVERIFY(writeFile(user.filePath("b.kcf2"), profileXml(own, "mine")));
        // Only regular *.kcf2 files count; opening a pipe would wait for a writer forever.
        QVERIFY(writeFile(user.filePath("b.kcf2.bak"), profileXml(QUuid::createUuid(), "backup")));
        QCOMPARE(mkfifo(QFile::encodeName(user.filePath("pipe.kcf2")).constData(), 0600), 0);

        // The global copy wins; folder paths as a user might give them.
        const LoadedConnections loaded = loadConnectionFolders(global.path() + "/./", user.path() + "//");
        QCOMPARE(loaded.connections.size(), 2);
        QCOMPARE(loaded.connections.at(0).name(), QString("global copy"));
        QCOMPARE(loaded.connections.at(1).name(), QString("mine"));
        QCOMPARE(loaded.files.value(shared), global.filePath("a.kcf2"));
        QCOMPARE(loaded.files.value(own), user.filePath("b.kcf2"));
    }

    void save_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("saved");
        QTest::newRow("replaces the old file") << "old" << true;
        QTest::newRow("makes missing folders") << "deep" << true;
        QTest::newRow("target is a folder") << "folder" << false;
        QTest::newRow("parent is a file") << "parent" << false;
        // A write that fails half way, as on a full disk.
        QTest::newRow("size limit") << "limit" << false;
    }

    // A failed save reports why and leaves the previous file byte for byte, with no temporary
    // file behind.
    void save()
    {
        QFETCH(QString, situation);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        QString path = dir.filePath("p.kcf2");
        const QByteArray old = profileXml(LabUid, "Old name");
        QVERIFY(writeFile(situation == "parent" ? dir.filePath("parent") : path, old));
        if (situation == "deep")
            path = connectionFilePath(dir.filePath("a/./b/"), LabUid);
        else if (situation == "parent")
            path = dir.filePath("parent/p.kcf2");
        else if (situation == "folder")
            QVERIFY(QFile::remove(path) && QDir(dir.path()).mkdir("p.kcf2"));
        const QStringList before = entries(dir.path());
        const Connection profile = connection("New", "lab7", 2222, "ops", QString(10000, 's'));

        rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = previous;
        small.rlim_cur = 1024;
        if (situation == "limit")
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QString error;
        const bool result = saveConnection(path, profile, error);
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);

        QCOMPARE(result, saved);
        if (saved) {
            QCOMPARE(describe(loadConnection(path)), describe(profile));
            QCOMPARE(QFileInfo(path).fileName(), situation == "deep" ? LabUid.toString() + ".kcf2" : "p.kcf2");
            QCOMPARE(entries(QFileInfo(path).path()), QStringList{QFileInfo(path).fileName()});
            return;
        }
        QVERIFY(!error.isEmpty());
        QCOMPARE(entries(dir.path()), before);
        if (situation != "folder")
            QCOMPARE(readFile(situation == "parent" ? dir.filePath("parent") : path), old);
    }

};

QTEST_GUILESS_MAIN(TestConnectionFile)
#include "tst_connectionfile.moc"
