#include "rdp/rdpclipboardbridge.h"
#include "support/privatexserver.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <freerdp/channels/cliprdr.h>

namespace {

// What the bridge sent through the channel client, in order.
struct Sent
{
    QString kind;              // "caps", "formats", "listResponse", "request", "response"
    quint32 flags = 0;
    QList<quint32> values;     // format ids, requested format, capability fields
    QByteArray data;
};

struct Recorder
{
    QList<Sent> sent;
};

Recorder *recorderOf(CliprdrClientContext *c) { return static_cast<Recorder *>(c->handle); }

UINT record(CliprdrClientContext *c, const Sent &s)
{
    recorderOf(c)->sent << s;
    return CHANNEL_RC_OK;
}

UINT recordCaps(CliprdrClientContext *c, const CLIPRDR_CAPABILITIES *caps)
{
    const auto *general = reinterpret_cast<const CLIPRDR_GENERAL_CAPABILITY_SET *>(caps->capabilitySets);
    return record(c, {"caps", 0, {caps->cCapabilitiesSets, general->capabilitySetType, general->capabilitySetLength,
                                  general->version, general->generalFlags}, {}});
}

UINT recordFormatList(CliprdrClientContext *c, const CLIPRDR_FORMAT_LIST *list)
{
    Sent s{"formats", 0, {}, {}};
    for (UINT32 i = 0; i < list->numFormats; ++i) {
        s.values << list->formats[i].formatId;
        if (list->formats[i].formatName)
            s.data += list->formats[i].formatName;
    }
    return record(c, s);
}

UINT recordListResponse(CliprdrClientContext *c, const CLIPRDR_FORMAT_LIST_RESPONSE *r)
{
    return record(c, {"listResponse", r->msgFlags, {}, {}});
}

UINT recordRequest(CliprdrClientContext *c, const CLIPRDR_FORMAT_DATA_REQUEST *r)
{
    return record(c, {"request", 0, {r->requestedFormatId}, {}});
}

UINT recordResponse(CliprdrClientContext *c, const CLIPRDR_FORMAT_DATA_RESPONSE *r)
{
    return record(c, {"response", r->msgFlags, {r->dataLen},
                      QByteArray(reinterpret_cast<const char *>(r->requestedFormatData), int(r->dataLen))});
}

QByteArray utf16le(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2); // little-endian host
}

} // namespace

// The clipboard bridge against a recorded clipboard channel client and the local clipboard.
class TestClipboardBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void responseReachesLocalClipboard_data();
    void responseReachesLocalClipboard();
    void responsesOutOfTurn_data();
    void responsesOutOfTurn();
    void requestFromServer_data();
    void requestFromServer();
    void localOwnersAndSessionCopies_data();
    void localOwnersAndSessionCopies();

private:
    Recorder recorder;
    CliprdrClientContext client = {};
    bool clientConnected = true;
    RdpClipboardBridge *bridge = nullptr;

    QList<Sent> takeSent();
    int formatListsSent() const;

    // Under X11: another client that owns a selection with text until it is taken away.
    bool otherClientCopies(const QString &selection, const QByteArray &text);
    // Under X11: returns once every clipboard event the X server sent so far was handled.
    bool settle();
    bool onX11() const { return QGuiApplication::platformName() == QLatin1String("xcb"); }
    QList<QProcess *> helpers;
    int tokens = 0;
};

void TestClipboardBridge::init()
{
    recorder.sent.clear();
    client = {};
    client.handle = &recorder;
    client.ClientCapabilities = recordCaps;
    client.ClientFormatList = recordFormatList;
    client.ClientFormatListResponse = recordListResponse;
    client.ClientFormatDataRequest = recordRequest;
    client.ClientFormatDataResponse = recordResponse;
    clientConnected = true;
    QGuiApplication::clipboard()->clear();
    if (onX11())
        QVERIFY(settle());
    bridge = new RdpClipboardBridge([this]() { return clientConnected ? &client : nullptr; });
}

void TestClipboardBridge::cleanup()
{
    delete bridge;
    bridge = nullptr;
    for (QProcess *helper : qAsConst(helpers)) {
        helper->kill();
        helper->waitForFinished();
    }
    qDeleteAll(helpers);
    helpers.clear();
}

bool TestClipboardBridge::otherClientCopies(const QString &selection, const QByteArray &text)
{
    auto *xclip = new QProcess;
    helpers << xclip;
    // In the foreground, so that the test can end it.
    xclip->start(QStringLiteral("xclip"), {QStringLiteral("-selection"), selection,
                                           QStringLiteral("-quiet")});
    if (!xclip->waitForStarted())
        return false;
    xclip->write(text);
    xclip->closeWriteChannel();
    const QClipboard::Mode mode =
        selection == QLatin1String("primary") ? QClipboard::Selection : QClipboard::Clipboard;
    return QTest::qWaitFor(
        [&]() { return QGuiApplication::clipboard()->text(mode) == QString::fromLatin1(text); },
        5000);
}

bool TestClipboardBridge::settle()
{
    // The X server reports selection owners in order: once a new owner of PRIMARY has
    // answered us, every earlier report is queued here and is handled below.
    if (!otherClientCopies(QStringLiteral("primary"), "sentinel " + QByteArray::number(++tokens)))
        return false;
    QCoreApplication::processEvents();
    return true;
}

int TestClipboardBridge::formatListsSent() const
{
    int count = 0;
    for (const Sent &s : recorder.sent)
        count += s.kind == QLatin1String("formats");
    return count;
}

QList<Sent> TestClipboardBridge::takeSent()
{
    QList<Sent> sent = recorder.sent;
    recorder.sent.clear();
    return sent;
}

void TestClipboardBridge::responseReachesLocalClipboard_data()
{
    QTest::addColumn<ulong>("format");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("local");
    QTest::newRow("unicode with line feed")
        << ulong(13) << utf16le(QStringLiteral("a\nb")) << QStringLiteral("a\nb");
    QTest::newRow("unicode with CR LF") << ulong(13) << utf16le(QStringLiteral("a\r\nb\r\n")) << QStringLiteral("a\nb\n");
    QTest::newRow("unicode beyond latin-1")
        << ulong(13) << utf16le(QStringLiteral("\u20ac \u00e9")) << QStringLiteral("\u20ac \u00e9");
    QTest::newRow("trailing nuls") << ulong(13) << utf16le(QStringLiteral("xy") + QChar(0) + QChar(0))
                                   << QStringLiteral("xy");
    QTest::newRow("odd byte ignored") << ulong(13) << (utf16le(QStringLiteral("ok")) + 'z')
                                      << QStringLiteral("ok");
    QTest::newRow("latin-1") << ulong(1) << QByteArray("caf\xe9\0", 5) << QStringLiteral("caf\u00e9");
    QTest::newRow("empty") << ulong(13) << QByteArray() << QString();
}

void TestClipboardBridge::responseReachesLocalClipboard()
{
    QFETCH(ulong, format);
    QFETCH(QByteArray, data);
    QFETCH(QString, local);
    bridge->handleMonitorReady();
    bridge->handleServerFormatList({format});
    takeSent();
    bridge->handleServerFormatDataResponse(data);
    QCOMPARE(QGuiApplication::clipboard()->text(), local);
    QCOMPARE(bridge->pendingRequests(), 0);
}

// Only the answer to the newest request reaches the local clipboard, and only once. Steps:
// "list F" (the server offers format F), "answer TEXT" (in latin-1), "copy TEXT" (copied
// here), "expect TEXT" (on the local clipboard).
void TestClipboardBridge::responsesOutOfTurn_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("stale answer") << QStringList{"list 13", "list 1", "answer first", "expect ", "answer second",
                                                 "expect second"};
    QTest::newRow("second answer") << QStringList{"list 1", "answer answer", "expect answer", "copy copied later",
                                                  "answer again", "expect copied later"};
    QTest::newRow("answer without request") << QStringList{"copy keep", "answer junk", "expect keep"};
}

void TestClipboardBridge::responsesOutOfTurn()
{
    QFETCH(QStringList, steps);
    bridge->handleMonitorReady();
    for (const QString &step : qAsConst(steps)) {
        const QString verb = step.section(' ', 0, 0), text = step.section(' ', 1);
        if (verb == "list")
            bridge->handleServerFormatList({text.toULong()});
        else if (verb == "answer")
            bridge->handleServerFormatDataResponse(text.toLatin1());
        else if (verb == "copy")
            QGuiApplication::clipboard()->setText(text);
        else
            QVERIFY2(QGuiApplication::clipboard()->text() == text, qPrintable(step));
    }
    QCOMPARE(bridge->pendingRequests(), 0);
}

void TestClipboardBridge::requestFromServer_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<ulong>("format");
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("unicode, CRLF to LF")
        << QStringLiteral("x\r\ny") << ulong(13) << quint32(CB_RESPONSE_OK)
        << utf16le(QStringLiteral("x\ny"));
    QTest::newRow("latin-1") << QStringLiteral("caf\u00e9\r\n") << ulong(1)
                             << quint32(CB_RESPONSE_OK) << QByteArray("caf\xe9\n");
    QTest::newRow("lone LF kept") << QStringLiteral("a\nb") << ulong(13) << quint32(CB_RESPONSE_OK)
                                  << utf16le(QStringLiteral("a\nb"));
    QTest::newRow("empty clipboard") << QString() << ulong(13) << quint32(CB_RESPONSE_FAIL)
                                     << QByteArray();
    QTest::newRow("other format") << QStringLiteral("text") << ulong(8)
                                  << quint32(CB_RESPONSE_FAIL) << QByteArray();
}

void TestClipboardBridge::requestFromServer()
{
    QFETCH(QString, local);
    QFETCH(ulong, format);
    QFETCH(quint32, flags);
    QFETCH(QByteArray, data);
    if (local.isEmpty())
        QGuiApplication::clipboard()->clear();
    else
        QGuiApplication::clipboard()->setText(local);
    takeSent();

    bridge->handleServerFormatDataRequest(format);
    const QList<Sent> sent = takeSent();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].kind, QStringLiteral("response"));
    QCOMPARE(sent[0].flags, flags);
    QCOMPARE(sent[0].values, (QList<quint32>{quint32(data.size())}));
    QCOMPARE(sent[0].data, data); // no terminating NUL
}

// Who owns the local clipboard when the session copies, and whether the session offers
// text: the bridge's own changes never go back to the session, whatever the platform
// reports, and the next copy made here (and only that, not a mere selection) is announced.
void TestClipboardBridge::localOwnersAndSessionCopies_data()
{
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QList<ulong>>("offered");
    const QList<ulong> text{13, 0xC0FE};
    const QList<ulong> noText{0xC0FE};
    for (const char *owner : {"nuvek", "nobody", "other"}) {
        QTest::addRow("%s owns, session offers text", owner) << QString::fromLatin1(owner) << text;
        QTest::addRow("%s owns, session offers no text", owner) << QString::fromLatin1(owner) << noText;
    }
}

void TestClipboardBridge::localOwnersAndSessionCopies()
{
    QFETCH(QString, owner);
    QFETCH(QList<ulong>, offered);
    if (!onX11())
        QSKIP("needs an X server (Xvfb)");
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        QSKIP("needs xclip");
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (owner == QLatin1String("nuvek"))
        clipboard->setText(QStringLiteral("copied in nuvek"));
    else if (owner == QLatin1String("other"))
        QVERIFY(otherClientCopies(QStringLiteral("clipboard"), "copied elsewhere"));
    QVERIFY(settle());
    bridge->handleMonitorReady();
    takeSent();

    bridge->handleServerFormatList(offered);
    if (offered.contains(13))
        bridge->handleServerFormatDataResponse(utf16le(QStringLiteral("from the session")));
    QVERIFY(settle());
    QCOMPARE(formatListsSent(), 0);
    QCOMPARE(clipboard->text(), offered.contains(13) ? QStringLiteral("from the session") : QString());

    QVERIFY(otherClientCopies(QStringLiteral("clipboard"), "copied here later"));
    QTRY_COMPARE(formatListsSent(), 1);
    QVERIFY(settle());
    QCOMPARE(formatListsSent(), 1);
}

int main(int argc, char *argv[])
{
    // Under X11 the platform reports clipboard changes its own way; the test wants that.
    PrivateXServer xserver;
    xserver.startForApplication();
    QGuiApplication app(argc, argv);
    TestClipboardBridge test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_clipboardbridge.moc"
