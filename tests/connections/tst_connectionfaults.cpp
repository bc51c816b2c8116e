#include "connections/connection.h"
#include "connections/connectioneditor.h"
#include "connections/linkfailure.h"
#include "support/errorboxes.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Uid[] = "{8a1d2f36-1c50-4c6e-9d1a-0b7f5e2c4d11}";

QByteArray profile(const QByteArray &rootAttributes, const QByteArray &host = "server.example")
{
    return "<SshConnection " + rootAttributes + "><Uid>" + Uid + "</Uid><Name>office</Name><Host>"
        + host + "</Host></SshConnection>\n";
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

class TestConnectionFaults : public QObject
{
    Q_OBJECT

private slots:
    void schemaHintsAreNotFollowed_data();
    void schemaHintsAreNotFollowed();
    void unusableFilesAreRefusedAtOnce_data();
    void unusableFilesAreRefusedAtOnce();
    void hostLikeAnOption();
    void linkFailureLines_data();
    void linkFailureLines();

private:
    QTemporaryDir dir;
};

// A profile names where its schema would be: nothing is fetched, the built-in schema decides.
void TestConnectionFaults::schemaHintsAreNotFollowed_data()
{
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("target"); // "http" or "fifo"
    QTest::newRow("no-namespace hint, http") << "noNamespaceSchemaLocation" << "http";
    QTest::newRow("namespace hint, http") << "schemaLocation" << "http";
    QTest::newRow("no-namespace hint, fifo") << "noNamespaceSchemaLocation" << "fifo";
}

void TestConnectionFaults::schemaHintsAreNotFollowed()
{
    QFETCH(QString, attribute);
    QFETCH(QString, target);
    // A listener that answers every request at once, and counts them.
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    int requests = 0;
    connect(&listener, &QTcpServer::newConnection, this, [&]() {
        while (QTcpSocket *socket = listener.nextPendingConnection()) {
            ++requests;
            socket->write("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
        }
    });
    const QString fifoPath = dir.filePath(QStringLiteral("schema.fifo"));
    std::unique_ptr<WatchedFifo> fifo;
    QString location;
    if (target == QLatin1String("fifo")) {
        fifo.reset(new WatchedFifo(fifoPath));
        location = QUrl::fromLocalFile(fifoPath).toString();
    } else {
        location = QStringLiteral("http://127.0.0.1:%1/profile.xsd").arg(listener.serverPort());
    }
    if (attribute == QLatin1String("schemaLocation"))
        location.prepend(QStringLiteral("urn:profiles "));
    const QString path = dir.filePath(QStringLiteral("hinted.kcf2"));
    QVERIFY(writeFile(path, profile("xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:"
                                    + attribute.toLatin1() + "=\"" + location.toLatin1() + "\"")));

    const Connection connection = loadConnection(path);
    QCoreApplication::processEvents();
    QCOMPARE(requests, 0);
    QVERIFY(!listener.hasPendingConnections());
    if (fifo)
        QVERIFY(!fifo->opened());
    // The hint itself is harmless: the profile loads.
    QVERIFY(connection.isValid());
    QCOMPARE(connection.name(), QStringLiteral("office"));
    fifo.reset();
    QFile::remove(fifoPath);
}

// Files that are no profile are refused without a long look: huge ones, and ones that are no
// regular file (a FIFO would block the Connections window for good).
void TestConnectionFaults::unusableFilesAreRefusedAtOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("100000 attributes") << "attributes";
    QTest::newRow("a name of 1 MiB") << "long";
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("host like an option still loads") << "dash";
}

void TestConnectionFaults::unusableFilesAreRefusedAtOnce()
{
    QFETCH(QString, kind);
    const QString path = dir.filePath(kind + QStringLiteral(".kcf2"));
    std::unique_ptr<WatchedFifo> fifo;
    if (kind == QLatin1String("attributes")) {
        QByteArray attributes;
        for (int i = 0; i < 100000; ++i)
            attributes += 'a' + QByteArray::number(i) + "=\"\" ";
        QVERIFY(writeFile(path, profile(attributes)));
    } else if (kind == QLatin1String("long")) {
        QVERIFY(writeFile(path, profile(QByteArray(), QByteArray(1 << 20, 'h'))));
    } else if (kind == QLatin1String("fifo")) {
        fifo.reset(new WatchedFifo(path));
    } else {
        QVERIFY(writeFile(path, profile(QByteArray(), "-oProxyCommand=x")));
    }
    QElapsedTimer timer;
    timer.start();
    const Connection connection = loadConnection(path);
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(connection.isValid(), kind == QLatin1String("dash"));
    if (fifo)
        QVERIFY(!fifo->opened());
    fifo.reset();
    QFile::remove(path);
}

void TestConnectionFaults::hostLikeAnOption()
{
    for (const QString &host : {QStringLiteral("-oProxyCommand=x"), QStringLiteral("host-1.example")}) {
        Connection record;
        record.setName(QStringLiteral("office"));
        ConnectionEditor editor(record);
        editor.show();
        editor.findChild<QLineEdit *>(QStringLiteral("HostLineEdit"))->setText(host);
        editor.findChild<QDialogButtonBox *>(QStringLiteral("ButtonBox"))->button(QDialogButtonBox::Save)->click();
        const bool refused = host.startsWith(QLatin1Char('-'));
        QCOMPARE(editor.isVisible(), refused);
        QCOMPARE(editor.result(), refused ? int(QDialog::Rejected) : int(QDialog::Accepted));
        QCOMPARE(visibleErrorBoxTexts().contains(QLatin1String("cannot begin with \"-\"")), refused);
        qDeleteAll(visibleErrorBoxes());
    }
}

// OpenSSH's own lines about files it could not read are no missing server program.
void TestConnectionFaults::linkFailureLines_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("message");
    const QString auth = QStringLiteral("Unable to authenticate the user \"alice\".");
    const QString contact = QStringLiteral("Unable to contact the server.");
    QTest::newRow("missing identity, failed login")
        << "no such identity: /home/alice/.ssh/id_work: No such file or directory\n"
           "alice@server.example: Permission denied (publickey,password).\n"
           "No more authentication methods to try"
        << auth;
    QTest::newRow("inaccessible identity, timeout")
        << "Warning: Identity file /home/alice/id not accessible: No such file or directory.\n"
           "ssh: connect to host 10.0.0.1 port 22: Connection timed out"
        << QStringLiteral("Unable to connect to the host \"server.example\".");
    QTest::newRow("missing identity, then a missing program")
        << "no such identity: /home/alice/.ssh/id_work: No such file or directory\n"
           "Authenticated to server.example ([10.0.0.1]:22) using \"password\".\nAccess granted\n"
           "bash: line 1: nuvek2_sci: command not found"
        << contact;
    QTest::newRow("the program's own words after login")
        << "Access granted\nnuvek2_sci: warning: Connection timed out talking to the display"
        << QStringLiteral("plink quit with error code 1");
}

void TestConnectionFaults::linkFailureLines()
{
    QFETCH(QString, log);
    QFETCH(QString, message);
    const QString text = linkFailureMessage(log.split(QLatin1Char('\n')), QStringLiteral("plink quit with error code 1"),
                                            QStringLiteral("alice"), QStringLiteral("server.example"));
    QVERIFY2(text.startsWith(message), qPrintable(text));
}

QTEST_MAIN(TestConnectionFaults)
#include "tst_connectionfaults.moc"
