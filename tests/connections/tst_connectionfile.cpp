#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "connections/connection.h"
#include "connections/connectionfolders.h"

Q_DECLARE_METATYPE(Connection)

namespace {

const QUuid LabUid("{0f8fad5b-d9cb-469f-a165-70867728950e}");

Connection makeConnection(const QUuid &uid, const QString &name)
{
    Connection connection;
    connection.setUid(uid);
    connection.setName(name);
    return connection;
}

Connection labConnection()
{
    Connection connection = makeConnection(LabUid, "Lab");
    connection.setHost("lab7");
    connection.setPort(2222);
    connection.setUser("ops");
    connection.setFips(true);
    return connection;
}

QString describe(const Connection &c)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(c.uid().toString(), c.name(), c.host(), QString::number(c.port()), c.user(), c.sci(),
             c.fips() ? "fips" : "nofips");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray profileXml(const QUuid &uid, const QString &name)
{
    return QStringLiteral("<SshConnection>\n <Uid>%1</Uid>\n <Name>%2</Name>\n</SshConnection>\n")
        .arg(uid.toString(), name)
        .toUtf8();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Everything printed while it lives: Qt messages and whatever is written
// straight to the standard error stream.
class OutputCatcher
{
public:
    OutputCatcher()
    {
        s_messages.clear();
        m_previousHandler = qInstallMessageHandler(&OutputCatcher::handle);
        std::fflush(stderr);
        m_savedStderr = dup(STDERR_FILENO);
        m_file.open();
        dup2(m_file.handle(), STDERR_FILENO);
    }
    ~OutputCatcher() { restore(); }

    QStringList output()
    {
        restore();
        QStringList result = s_messages;
        m_file.seek(0);
        const QByteArray written = m_file.readAll();
        if (!written.isEmpty())
            result << QString::fromLocal8Bit(written);
        return result;
    }

private:
    void restore()
    {
        if (m_savedStderr < 0)
            return;
        std::fflush(stderr);
        dup2(m_savedStderr, STDERR_FILENO);
        close(m_savedStderr);
        m_savedStderr = -1;
        qInstallMessageHandler(m_previousHandler);
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { s_messages << message; }

    static QStringList s_messages;
    QtMessageHandler m_previousHandler;
    QTemporaryFile m_file;
    int m_savedStderr = -1;
};
QStringList OutputCatcher::s_messages;

} // namespace

class TestConnectionFile : public QObject
{
    Q_OBJECT

private slots:
    void writesTheExactFile();
    void roundTrip_data();
    void roundTrip();
    void unwritableCharactersAreDropped();
    void readsElementValues_data();
    void readsElementValues();
    void brokenFilesAreSkipped_data();
    void brokenFilesAreSkipped();
    void globalProfileWinsOverUserProfile();
    void onlyProfileFilesAreListed();
    void emptyFolderPathIsNotScanned();
    void filePathOfNewProfile();
    void saveCreatesMissingFolders();
    void saveReplacesTheOldFile();
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void writeFailureKeepsTheOldFile();
    void removesFiles();
};

void TestConnectionFile::writesTheExactFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("lab.kcf2");
    QString error;
    QVERIFY2(saveConnection(path, labConnection(), error), qPrintable(error));

    const QByteArray expected = "<SshConnection>\n"
                                " <Uid>{0f8fad5b-d9cb-469f-a165-70867728950e}</Uid>\n"
                                " <Name>Lab</Name>\n"
                                " <Host>lab7</Host>\n"
                                " <Port>2222</Port>\n"
                                " <User>ops</User>\n"
                                " <Fips>true</Fips>\n"
                                "</SshConnection>\n";
    QCOMPARE(readFile(path), expected);
    QCOMPARE(describe(loadConnection(path)), describe(labConnection()));
}

void TestConnectionFile::roundTrip_data()
{
    QTest::addColumn<Connection>("connection");
    QTest::addColumn<QStringList>("absentElements");

    QTest::newRow("defaults") << makeConnection(LabUid, "Plain")
                              << QStringList{"Host", "Port", "User", "Sci", "Fips"};

    Connection escaped = makeConnection(LabUid, QString::fromUtf8("a<b> & \"c\" 'd' ]]> Zoë Ωμέγα 東京 \U0001F600"));
    escaped.setHost("h&st<1>");
    escaped.setUser(QString::fromUtf8("ü\"ser'"));
    escaped.setSci("/opt/x y/sci --flag=\"a&b\"");
    QTest::newRow("escaping") << escaped << QStringList{"Port", "Fips"};

    Connection full = makeConnection(LabUid, "Full");
    full.setHost("10.0.0.1");
    full.setPort(65535);
    full.setUser("root");
    full.setSci("nuvek2_sci");
    full.setFips(true);
    QTest::newRow("every field, highest port") << full << QStringList();

    Connection blanks = makeConnection(LabUid, "  Lab  ");
    blanks.setHost(" lab7\t");
    QTest::newRow("surrounding blanks") << blanks << QStringList{"Port", "Fips"};

    Connection lowPort = makeConnection(LabUid, "Low");
    lowPort.setPort(1);
    QTest::newRow("port 1") << lowPort << QStringList{"Fips"};
}

void TestConnectionFile::roundTrip()
{
    QFETCH(Connection, connection);
    QFETCH(QStringList, absentElements);

    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    QString error;
    QVERIFY2(saveConnection(path, connection, error), qPrintable(error));

    const QByteArray bytes = readFile(path);
    for (const QString &element : absentElements)
        QVERIFY2(!bytes.contains("<" + element.toUtf8()), qPrintable(element));

    QCOMPARE(describe(loadConnection(path)), describe(connection));
}

// Characters XML cannot hold are dropped when writing: the file stays valid
// and the profile does not disappear from the list.
void TestConnectionFile::unwritableCharactersAreDropped()
{
    Connection connection = makeConnection(LabUid, QString("La") + QChar(0x01) + "b" + QChar(0xFFFF));
    connection.setUser(QString("o") + QChar(0x08) + "ps" + QChar(0x1B));

    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    QString error;
    QVERIFY2(saveConnection(path, connection, error), qPrintable(error));

    const Connection loaded = loadConnection(path);
    QVERIFY(loaded.isValid());
    QCOMPARE(loaded.name(), QString("Lab"));
    QCOMPARE(loaded.user(), QString("ops"));
}

void TestConnectionFile::readsElementValues_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QString uid = LabUid.toString();
    QTest::newRow("defaults") << QByteArray() << uid + "|N||22|||nofips";
    QTest::newRow("Fips TRUE") << QByteArray("<Fips>TRUE</Fips>") << uid + "|N||22|||fips";
    QTest::newRow("Fips True") << QByteArray("<Fips>True</Fips>") << uid + "|N||22|||fips";
    QTest::newRow("Fips 1") << QByteArray("<Fips>1</Fips>") << uid + "|N||22|||nofips";
    QTest::newRow("Fips empty") << QByteArray("<Fips/>") << uid + "|N||22|||nofips";
    QTest::newRow("Port leading zeros") << QByteArray("<Port>0080</Port>") << uid + "|N||80|||nofips";
    QTest::newRow("Port 0") << QByteArray("<Port>0</Port>") << uid + "|N||0|||nofips";
    QTest::newRow("Port 22 written out") << QByteArray("<Port>22</Port>") << uid + "|N||22|||nofips";
    QTest::newRow("all text")
        << QByteArray("<Host>h</Host><User>u</User><Sci>s</Sci>") << uid + "|N|h|22|u|s|nofips";
}

void TestConnectionFile::readsElementValues()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    QVERIFY(writeFile(path, "<SshConnection><Uid>" + LabUid.toString().toUtf8() + "</Uid><Name>N</Name>" + body
                                + "</SshConnection>"));
    QCOMPARE(describe(loadConnection(path)), expected);
}

void TestConnectionFile::brokenFilesAreSkipped_data()
{
    QTest::addColumn<QByteArray>("content");

    const QByteArray uid = "<Uid>" + QUuid::createUuid().toString().toUtf8() + "</Uid>";
    QTest::newRow("missing Name") << "<SshConnection>" + uid + "<Host>h</Host></SshConnection>";
    QTest::newRow("missing Uid") << QByteArray("<SshConnection><Name>n</Name></SshConnection>");
    QTest::newRow("out of order") << "<SshConnection>" + uid + "<Name>n</Name><Port>23</Port><Host>h</Host></SshConnection>";
    QTest::newRow("Name before Uid") << "<SshConnection><Name>n</Name>" + uid + "</SshConnection>";
    QTest::newRow("unknown element") << "<SshConnection>" + uid + "<Name>n</Name><Password>x</Password></SshConnection>";
    QTest::newRow("attribute") << "<SshConnection version=\"2\">" + uid + "<Name>n</Name></SshConnection>";
    QTest::newRow("Name twice") << "<SshConnection>" + uid + "<Name>n</Name><Name>m</Name></SshConnection>";
    QTest::newRow("Port 70000") << "<SshConnection>" + uid + "<Name>n</Name><Port>70000</Port></SshConnection>";
    QTest::newRow("Port -1") << "<SshConnection>" + uid + "<Name>n</Name><Port>-1</Port></SshConnection>";
    QTest::newRow("Port text") << "<SshConnection>" + uid + "<Name>n</Name><Port>ssh</Port></SshConnection>";
    QTest::newRow("wrong root") << "<Connection>" + uid + "<Name>n</Name></Connection>";
    QTest::newRow("unparsable uid") << QByteArray("<SshConnection><Uid>lab</Uid><Name>n</Name></SshConnection>");
    QTest::newRow("not closed") << "<SshConnection>" + uid + "<Name>n</Name>";
    QTest::newRow("not XML") << QByteArray("Name=n\nHost=h\n");
    QTest::newRow("empty") << QByteArray();
}

void TestConnectionFile::brokenFilesAreSkipped()
{
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    const QUuid goodUid = QUuid::createUuid();
    QVERIFY(writeFile(dir.filePath("good.kcf2"), profileXml(goodUid, "good")));
    QVERIFY(writeFile(dir.filePath("broken.kcf2"), content));

    OutputCatcher catcher;
    QVERIFY(!loadConnection(dir.filePath("broken.kcf2")).isValid());
    const LoadedConnections loaded = loadConnectionFolders(QString(), dir.path());
    // The validator's complaints stay out of the output.
    QCOMPARE(catcher.output(), QStringList());

    QCOMPARE(loaded.connections.size(), 1);
    QCOMPARE(loaded.connections.first().uid(), goodUid);
    QCOMPARE(loaded.files.keys(), QList<QUuid>{goodUid});
}

void TestConnectionFile::globalProfileWinsOverUserProfile()
{
    QTemporaryDir global, user;
    const QUuid shared = QUuid::createUuid(), own = QUuid::createUuid();
    QVERIFY(writeFile(global.filePath("a.kcf2"), profileXml(shared, "global copy")));
    QVERIFY(writeFile(user.filePath("a.kcf2"), profileXml(shared, "user copy")));
    QVERIFY(writeFile(user.filePath("b.kcf2"), profileXml(own, "mine")));

    // Folder paths as a user might give them; the map holds cleaned paths.
    const LoadedConnections loaded = loadConnectionFolders(global.path() + "/./", user.path() + "//");
    QCOMPARE(loaded.connections.size(), 2);
    QCOMPARE(loaded.connections.at(0).name(), QString("global copy"));
    QCOMPARE(loaded.connections.at(1).name(), QString("mine"));
    QCOMPARE(loaded.files.size(), 2);
    QCOMPARE(loaded.files.value(shared), global.filePath("a.kcf2"));
    QCOMPARE(loaded.files.value(own), user.filePath("b.kcf2"));
}

void TestConnectionFile::onlyProfileFilesAreListed()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("profile.xml"), profileXml(QUuid::createUuid(), "xml")));
    QVERIFY(writeFile(dir.filePath("profile.kcf2.bak"), profileXml(QUuid::createUuid(), "backup")));
    QVERIFY(QDir(dir.path()).mkpath("folder.kcf2"));
    QVERIFY(writeFile(dir.filePath("folder.kcf2/inner.kcf2"), profileXml(QUuid::createUuid(), "inner")));
    // Opening a pipe for reading would wait for a writer forever.
    QCOMPARE(mkfifo(QFile::encodeName(dir.filePath("pipe.kcf2")).constData(), 0600), 0);
    QVERIFY(writeFile(dir.filePath("real.kcf2"), profileXml(LabUid, "real")));

    const LoadedConnections loaded = loadConnectionFolders(dir.path(), dir.filePath("missing"));
    QCOMPARE(loaded.connections.size(), 1);
    QCOMPARE(loaded.connections.first().name(), QString("real"));
}

void TestConnectionFile::emptyFolderPathIsNotScanned()
{
    QTemporaryDir cwd, user;
    QVERIFY(writeFile(cwd.filePath("here.kcf2"), profileXml(QUuid::createUuid(), "here")));
    QVERIFY(writeFile(user.filePath("user.kcf2"), profileXml(LabUid, "user")));

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cwd.path()));
    const LoadedConnections none = loadConnectionFolders(QString(), QString());
    const LoadedConnections onlyUser = loadConnectionFolders(QString(), user.path());
    QVERIFY(QDir::setCurrent(previous));

    QVERIFY(none.connections.isEmpty());
    QVERIFY(none.files.isEmpty());
    QCOMPARE(onlyUser.connections.size(), 1);
    QCOMPARE(onlyUser.connections.first().name(), QString("user"));
}

void TestConnectionFile::filePathOfNewProfile()
{
    const QString path = connectionFilePath("/var/lib/x/./profiles/", LabUid);
    QCOMPARE(path, QString("/var/lib/x/profiles/{0f8fad5b-d9cb-469f-a165-70867728950e}.kcf2"));
    QCOMPARE(QFileInfo(path).fileName().size(), 43);

    // Without a folder there is no path, and saving to it fails instead of
    // writing into the current directory.
    QTemporaryDir cwd;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cwd.path()));
    QString error;
    const bool saved = saveConnection(connectionFilePath(QString(), LabUid), labConnection(), error);
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(entries(cwd.path()), QStringList());
}

void TestConnectionFile::saveCreatesMissingFolders()
{
    QTemporaryDir dir;
    const QString path = connectionFilePath(dir.filePath("a/b/c"), LabUid);
    QString error;
    QVERIFY2(saveConnection(path, labConnection(), error), qPrintable(error));
    QCOMPARE(describe(loadConnection(path)), describe(labConnection()));
    QCOMPARE(loadConnectionFolders(QString(), dir.filePath("a/b/c")).files.value(LabUid), path);
}

void TestConnectionFile::saveReplacesTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    QVERIFY(writeFile(path, QByteArray(4096, 'x')));

    Connection edited = labConnection();
    edited.setName("Renamed");
    edited.setFips(false);
    QString error;
    QVERIFY2(saveConnection(path, edited, error), qPrintable(error));
    QCOMPARE(describe(loadConnection(path)), describe(edited));
    QCOMPARE(entries(dir.path()), QStringList{"p.kcf2"});
}

void TestConnectionFile::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::newRow("target is a folder") << "target";
    QTest::newRow("parent is a file") << "parent";
}

// Saving where the file cannot be written reports why and changes nothing.
void TestConnectionFile::failedSaveKeepsTheOldFile()
{
    QFETCH(QString, blocker);

    QTemporaryDir dir;
    QString path;
    if (blocker == "target") {
        path = dir.filePath("p.kcf2");
        QVERIFY(QDir(dir.path()).mkdir("p.kcf2"));
    } else {
        QVERIFY(writeFile(dir.filePath("parent"), "old content"));
        path = dir.filePath("parent/p.kcf2");
    }
    const QStringList before = entries(dir.path());

    QString error;
    QVERIFY(!saveConnection(path, labConnection(), error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(entries(dir.path()), before);
    if (blocker == "parent")
        QCOMPARE(readFile(dir.filePath("parent")), QByteArray("old content"));
}

// A write that fails half way (here: the file size limit, as with a full disk)
// leaves the previous file byte for byte and no temporary file behind.
void TestConnectionFile::writeFailureKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    const QByteArray old = profileXml(LabUid, "Old name");
    QVERIFY(writeFile(path, old));

    Connection big = labConnection();
    big.setSci(QString(10000, 's'));

    rlimit previous;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);

    QString error;
    const bool saved = saveConnection(path, big, error);

    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!saved);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(path), old);
    QCOMPARE(entries(dir.path()), QStringList{"p.kcf2"});
}

void TestConnectionFile::removesFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.kcf2");
    QVERIFY(writeFile(path, profileXml(LabUid, "x")));

    QString error;
    QVERIFY2(removeConnectionFile(path, error), qPrintable(error));
    QVERIFY(!QFile::exists(path));

    QVERIFY(!removeConnectionFile(path, error));
    QVERIFY(!error.isEmpty());

    error.clear();
    QVERIFY(!removeConnectionFile(QString(), error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestConnectionFile)
#include "tst_connectionfile.moc"
