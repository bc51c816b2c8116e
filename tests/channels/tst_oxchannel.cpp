// The client add-ins of our own channels behind fake FreeRDP entry points:
// how received chunks become messages and callbacks, and what a write hands
// to FreeRDP.

#include "channels/oxcfg/oxcfg_common.h"
#include "channels/oxcfg/oxcfg_main.h"
#include "channels/oxdesk/oxdesk_common.h"
#include "channels/oxdesk/oxdesk_main.h"
#include "channels/oxshare/oxshare_common.h"
#include "channels/oxshare/oxshare_main.h"

#include <QtTest>

#include <freerdp/svc.h>

namespace {

struct Chunk { QByteArray data; quint32 flags; quint32 total; };
using Chunks = QVector<Chunk>;

// FreeRDP's channel manager, for one channel.
struct FakeManager
{
    int initHandle = 0;
    LPVOID userParam = nullptr;
    void *clientInterface = nullptr;
    PCHANNEL_INIT_EVENT_EX_FN initProc = nullptr;
    PCHANNEL_OPEN_EVENT_EX_FN openProc = nullptr;
    QByteArrayList written;
    UINT writeResult = CHANNEL_RC_OK;
};
FakeManager *fake = nullptr;
QStringList *events = nullptr; // what the callbacks reported, in order
const DWORD OpenHandle = 42;

UINT VCAPITYPE fakeInit(LPVOID userParam, LPVOID clientContext, LPVOID, PCHANNEL_DEF, INT,
                        ULONG, PCHANNEL_INIT_EVENT_EX_FN proc)
{
    fake->userParam = userParam;
    fake->clientInterface = clientContext;
    fake->initProc = proc;
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE fakeOpen(LPVOID, LPDWORD openHandle, PCHAR, PCHANNEL_OPEN_EVENT_EX_FN proc)
{
    *openHandle = OpenHandle;
    fake->openProc = proc;
    return CHANNEL_RC_OK;
}

UINT VCAPITYPE fakeWrite(LPVOID, DWORD, LPVOID data, ULONG length, LPVOID userData)
{
    if (fake->writeResult != CHANNEL_RC_OK)
        return fake->writeResult;
    fake->written << QByteArray(static_cast<const char *>(data), int(length));
    // The buffer is the add-in's until FreeRDP reports the write done.
    fake->openProc(fake->userParam, OpenHandle, CHANNEL_EVENT_WRITE_COMPLETE, userData, length,
                   length, 0);
    return CHANNEL_RC_OK;
}

// Callbacks run on the channel's receive thread; the events reach the test thread queued.
UINT record(const QString &event)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [event]() { *events << event; }, Qt::QueuedConnection);
    return CHANNEL_RC_OK;
}

// Loads one add-in and installs recording callbacks on its interface.
void load(const QString &channel)
{
    CHANNEL_ENTRY_POINTS_FREERDP_EX entryPoints = {};
    entryPoints.cbSize = sizeof(entryPoints);
    entryPoints.pVirtualChannelInitEx = fakeInit;
    entryPoints.pVirtualChannelOpenEx = fakeOpen;
    entryPoints.pVirtualChannelCloseEx = [](LPVOID, DWORD) -> UINT { return CHANNEL_RC_OK; };
    entryPoints.pVirtualChannelWriteEx = fakeWrite;
    entryPoints.MagicNumber = FREERDP_CHANNEL_MAGIC_NUMBER;
    auto *points = reinterpret_cast<PCHANNEL_ENTRY_POINTS_EX>(&entryPoints);
    const auto text = [](OxcfgClientContext *, const char *text) -> UINT {
        return record(QStringLiteral("text '%1'").arg(QString::fromUtf8(text)));
    };
    if (channel == QLatin1String("oxdesk")) {
        QVERIFY(oxdesk_VirtualChannelEntryEx(points, &fake->initHandle));
        auto *client = static_cast<OxdeskClientContext *>(fake->clientInterface);
        client->DesktopResized = [](OxdeskClientContext *, UINT16 w, UINT16 h) -> UINT {
            return record(QStringLiteral("resized %1x%2").arg(w).arg(h));
        };
        client->MinMaxInfo = [](OxdeskClientContext *, UINT16 a, UINT16 b, UINT16 c, UINT16 d) {
            return record(QStringLiteral("minmax %1 %2 %3 %4").arg(a).arg(b).arg(c).arg(d));
        };
    } else if (channel == QLatin1String("oxshare")) {
        QVERIFY(oxshare_VirtualChannelEntryEx(points, &fake->initHandle));
        auto *client = static_cast<OxshareClientContext *>(fake->clientInterface);
        client->ClientId = [](OxshareClientContext *, UINT32 id) {
            return record(QStringLiteral("client %1").arg(id));
        };
        client->ServerStatus = [](OxshareClientContext *, BOOL active,
                                  const OxshareStatusEntry *entries, UINT32 count) {
            QStringList viewers;
            for (const OxshareStatusEntry *e = entries; e != entries + count; ++e)
                viewers << QStringLiteral("%1 %2/%3").arg(e->id).arg(e->flags).arg(
                    QString::fromUtf8(e->name, int(e->nameLength)));
            return record(QStringLiteral("status %1: %2").arg(active).arg(viewers.join(", ")));
        };
    } else {
        QVERIFY(oxcfg_VirtualChannelEntryEx(points, &fake->initHandle));
        auto *client = static_cast<OxcfgClientContext *>(fake->clientInterface);
        client->OptionsUpdatedNotify = client->SetOptionsResponse = text;
    }
}

void initEvent(UINT event)
{
    fake->initProc(fake->userParam, &fake->initHandle, event, nullptr, 0);
}

QByteArray bytes(const OxBytes &message)
{
    return QByteArray(reinterpret_cast<const char *>(message.data()), int(message.size()));
}

// One message in chunks of at most `size` bytes, flagged as FreeRDP delivers them.
Chunks split(const OxBytes &message, int size = 1 << 20)
{
    const QByteArray all = bytes(message);
    Chunks chunks;
    for (int at = 0; at < all.size(); at += size) {
        chunks << Chunk{all.mid(at, size),
                        quint32((at == 0 ? CHANNEL_FLAG_FIRST : 0)
                                | (at + size >= all.size() ? CHANNEL_FLAG_LAST : 0)),
                        quint32(all.size())};
    }
    return chunks;
}

} // namespace

Q_DECLARE_METATYPE(Chunks)

class TestOxChannel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void receive_data();
    void receive();
    void sending();

private:
    FakeManager manager;
    QStringList recorded;
};

void TestOxChannel::init()
{
    manager = FakeManager();
    recorded.clear();
    fake = &manager;
    events = &recorded;
}

void TestOxChannel::cleanup()
{
    if (manager.initProc) {
        initEvent(CHANNEL_EVENT_DISCONNECTED);
        initEvent(CHANNEL_EVENT_TERMINATED);
    }
}

void TestOxChannel::receive_data()
{
    QTest::addColumn<QString>("channel");
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("expected");
    const QString desk = QStringLiteral("oxdesk");
    const QString share = QStringLiteral("oxshare");
    const QString cfg = QStringLiteral("oxcfg");

    const OxBytes resized = oxdesk::encodeSize(oxdesk::DesktopResized, 1280, 800);
    const Chunks halves = split(resized, 6);
    const Chunk suspend{QByteArray("xx"), CHANNEL_FLAG_SUSPEND, 2};
    const Chunk resume{QByteArray("yy"), CHANNEL_FLAG_RESUME, 2};
    QTest::newRow("one message in three chunks")
        << desk << split(resized, 5) << QStringList{"resized 1280x800"};
    QTest::newRow("suspend and resume chunks are ignored")
        << desk << Chunks{halves[0], suspend, resume, halves[1]}
        << QStringList{"resized 1280x800"};
    QTest::newRow("a first chunk drops the unfinished message")
        << desk << (Chunks{split(oxdesk::encodeMinMaxInfo(1, 2, 3, 4), 8)[0]} + split(resized))
        << QStringList{"resized 1280x800"};
    QTest::newRow("a length that does not match is still delivered")
        << desk << Chunks{{bytes(resized), CHANNEL_FLAG_FIRST | CHANNEL_FLAG_LAST, 99}}
        << QStringList{"resized 1280x800"};
    QTest::newRow("short and unknown messages are dropped, the channel goes on")
        << desk
        << (split(OxBytes{1, 0, 0}) + split(OxPduWriter(oxdesk::DesktopResized).u16(7).finish())
            + split(OxPduWriter(oxdesk::MinMaxInfo).u16(7).finish())
            + split(OxPduWriter(77).u32(5).finish()) + split(oxdesk::encodeMinMaxInfo(1, 2, 3, 4)))
        << QStringList{"minmax 1 2 3 4"};

    oxshare::Status status;
    status.active = true;
    status.entries = {{0, 0, "Olga"}, {7, 2, "Ada"}, {9, 0x10, "Ed"}};
    OxBytes overrun = oxshare::encodeServerStatus(status);
    overrun.resize(overrun.size() - 2); // Ed's name loses its terminating zero
    QTest::newRow("viewers; a name without its zero; the active byte alone")
        << share
        << (split(oxshare::encodeServerStatus(status), 7) + split(overrun)
            + split(OxPduWriter(oxshare::ServerStatus).u8(0).finish())
            + split(oxshare::encodeU32(oxshare::ClientId, 3)))
        << QStringList{"status 1: 0 0/Olga, 7 2/Ada, 9 16/Ed", "status 1: 0 0/Olga, 7 2/Ada, 9 16/",
                       "status 0: ", "client 3"};
    QTest::newRow("text, empty text")
        << cfg
        << (split(oxcfg::encodeText(oxcfg::SetOptionsResponse, "{\"success\":true}"), 10)
            + split(oxcfg::encodeText(oxcfg::OptionsUpdatedNotify, "")))
        << QStringList{"text '{\"success\":true}'", "text ''"};
}

void TestOxChannel::receive()
{
    QFETCH(QString, channel);
    QFETCH(Chunks, chunks);
    load(channel);
    initEvent(CHANNEL_EVENT_CONNECTED);
    QVERIFY(manager.openProc);
    for (Chunk chunk : chunks)
        manager.openProc(manager.userParam, OpenHandle, CHANNEL_EVENT_DATA_RECEIVED,
                         chunk.data.data(), quint32(chunk.data.size()), chunk.total, chunk.flags);
    // Disconnecting lets the receive thread finish what was queued before it ends.
    initEvent(CHANNEL_EVENT_DISCONNECTED);
    QCoreApplication::sendPostedEvents();
    QTEST(recorded, "expected");
}

void TestOxChannel::sending()
{
    load(QStringLiteral("oxdesk"));
    auto *client = static_cast<OxdeskClientContext *>(manager.clientInterface);
    QCOMPARE(client->SizeRequest(client, 1280, 800), UINT(CHANNEL_RC_BAD_INIT_HANDLE));

    initEvent(CHANNEL_EVENT_CONNECTED);
    QCOMPARE(client->SizeRequest(client, 1280, 800), UINT(CHANNEL_RC_OK));
    manager.writeResult = CHANNEL_RC_NOT_CONNECTED;
    QCOMPARE(client->SizeRequest(client, 640, 480), UINT(CHANNEL_RC_NOT_CONNECTED));
    QCOMPARE(manager.written,
             QByteArrayList{bytes(oxdesk::encodeSize(oxdesk::SizeRequest, 1280, 800))});
}

QTEST_GUILESS_MAIN(TestOxChannel)
#include "tst_oxchannel.moc"
