#include "connections/connectionmodel.h"
#include "connections/richtextdelegate.h"

#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <QTextDocument>

Q_DECLARE_METATYPE(Connection)

namespace {

Connection makeConnection(const QString &uid, const QString &name = QString(),
                          const QString &host = QString(), quint16 port = 22)
{
    Connection connection;
    connection.setUid(QUuid(uid));
    connection.setName(name);
    connection.setHost(host);
    connection.setPort(port);
    return connection;
}

const QString uidA = QStringLiteral("{00000000-0000-0000-0000-00000000000a}");
const QString uidB = QStringLiteral("{00000000-0000-0000-0000-00000000000b}");
const QString uidC = QStringLiteral("{00000000-0000-0000-0000-00000000000c}");

QStringList uidsOf(const ConnectionModel &model)
{
    QStringList uids;
    for (int row = 0; row < model.rowCount(); ++row)
        uids << model.connection(model.index(row, 0)).uid().toString();
    return uids;
}

} // namespace

class TestConnectionModel : public QObject
{
    Q_OBJECT

private slots:
    void label_data();
    void label();
    void toolTip_data();
    void toolTip();
    void otherRolesAndIndexes();
    void setConnectionsSortsByUid();
    void addKeepsUidOrder();
    void addDuplicateUidChangesNothing();
    void updateByUid();
    void removeByUid();
    void delegateSizeFollowsMarkup();
};

void TestConnectionModel::label_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("label");

    QTest::newRow("name and host") << "Lab" << "lab7" << 22 << "<b><big>Lab</big></b><br/>lab7";
    QTest::newRow("other port") << "Lab" << "lab7" << 2222 << "<b><big>Lab</big></b><br/>lab7:2222";
    QTest::newRow("no name") << "" << "lab7" << 22 << "<b><big>NO_NAME</big></b><br/>lab7";
    QTest::newRow("no host") << "Lab" << "" << 2222 << "<b><big>Lab</big></b>";
    QTest::newRow("markup in name") << "<i>x</i>" << "h" << 22 << "<b><big><i>x</i></big></b><br/>h";
    QTest::newRow("placeholder-like host") << "n" << "a%2b" << 23 << "<b><big>n</big></b><br/>a%2b:23";
}

void TestConnectionModel::label()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, label);

    ConnectionModel model;
    model.setConnections({makeConnection(uidA, name, host, quint16(port))});
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), label);
    QCOMPARE(model.data(model.index(0, 0), ConnectionModel::NameRole).toString(), name);
}

void TestConnectionModel::toolTip_data()
{
    QTest::addColumn<Connection>("connection");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("uid only") << makeConnection(uidA) << "Uid: " + uidA;

    Connection full = makeConnection(uidB, "Lab", "lab7", 2222);
    full.setUser("ops");
    full.setSci("bin/sci");
    full.setFips(true);
    QTest::newRow("everything") << full
                                << "Uid: " + uidB + "\nName: Lab\nHost: lab7\nPort: 2222\nUser: ops"
                                       "\nSci: bin/sci\nFIPS mode enabled";

    QTest::newRow("default port left out") << makeConnection(uidC, "Lab", "lab7", 22)
                                           << "Uid: " + uidC + "\nName: Lab\nHost: lab7";
}

void TestConnectionModel::toolTip()
{
    QFETCH(Connection, connection);
    QFETCH(QString, toolTip);

    ConnectionModel model;
    model.setConnections({connection});
    QCOMPARE(model.data(model.index(0, 0), Qt::ToolTipRole).toString(), toolTip);
}

void TestConnectionModel::otherRolesAndIndexes()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA, "Lab", "lab7")});

    QCOMPARE(model.columnCount(), 1);
    QVERIFY(!model.data(model.index(0, 0), Qt::EditRole).isValid());
    QVERIFY(!model.data(model.index(0, 0), Qt::DecorationRole).isValid());
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::DisplayRole).isValid());

    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsDragEnabled);
    QVERIFY(!(model.flags(QModelIndex()) & Qt::ItemIsDragEnabled));

    QVERIFY(!model.connection(QModelIndex()).isValid());
    QVERIFY(!model.connection(model.index(5, 0)).isValid());
    QCOMPARE(model.connection(model.index(0, 0)).name(), QStringLiteral("Lab"));
}

void TestConnectionModel::setConnectionsSortsByUid()
{
    ConnectionModel model;
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setConnections({makeConnection(uidC, "c"), makeConnection(uidA, "a"),
                          makeConnection(uidB, "b"), makeConnection(uidA, "a again")});
    QCOMPARE(reset.count(), 1);
    // Sorted by uid, and a repeated uid keeps only its first record.
    QCOMPARE(uidsOf(model), QStringList({uidA, uidB, uidC}));
    QCOMPARE(model.connection(model.index(0, 0)).name(), QStringLiteral("a"));
}

void TestConnectionModel::addKeepsUidOrder()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA), makeConnection(uidC)});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    const QModelIndex index = model.addConnection(makeConnection(uidB, "b"));
    QCOMPARE(index.row(), 1);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1);
    QCOMPARE(uidsOf(model), QStringList({uidA, uidB, uidC}));
    QCOMPARE(model.connection(index).name(), QStringLiteral("b"));
}

void TestConnectionModel::addDuplicateUidChangesNothing()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA, "first")});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    QVERIFY(!model.addConnection(makeConnection(uidA, "second")).isValid());
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.connection(model.index(0, 0)).name(), QStringLiteral("first"));
}

void TestConnectionModel::updateByUid()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA, "a"), makeConnection(uidB, "b")});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const QModelIndex index = model.updateConnection(makeConnection(uidB, "renamed", "h"));
    QCOMPARE(index.row(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), index);
    QCOMPARE(model.connection(index).name(), QStringLiteral("renamed"));

    QVERIFY(!model.updateConnection(makeConnection(uidC, "unknown")).isValid());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.rowCount(), 2);
}

void TestConnectionModel::removeByUid()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA), makeConnection(uidB), makeConnection(uidC)});
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

    model.removeConnection(QUuid(uidB));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);
    QCOMPARE(uidsOf(model), QStringList({uidA, uidC}));

    model.removeConnection(QUuid(uidB));
    model.removeConnection(QUuid());
    QCOMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), 2);
}

void TestConnectionModel::delegateSizeFollowsMarkup()
{
    ConnectionModel model;
    model.setConnections({makeConnection(uidA, "Lab", "lab7"),
                          makeConnection(uidB, "A much longer profile name", "lab7")});
    QTableView view;
    RichTextDelegate delegate;
    view.setItemDelegate(&delegate);
    view.setModel(&model);

    QStyleOptionViewItem option;
    option.initFrom(&view);
    for (int row = 0; row < 2; ++row) {
        const QModelIndex index = model.index(row, 0);
        QTextDocument document;
        document.setHtml(model.data(index).toString());
        const QSize size = delegate.sizeHint(option, index);
        QCOMPARE(size, QSize(int(document.size().width()), int(document.size().height())));
    }
    // Two lines of text, one of them large: taller than one plain line.
    QVERIFY(delegate.sizeHint(option, model.index(0, 0)).height() > 2 * view.fontMetrics().height());
    QVERIFY(delegate.sizeHint(option, model.index(1, 0)).width()
            > delegate.sizeHint(option, model.index(0, 0)).width());

    // Painting the rich text works on a plain image too.
    view.resize(300, 200);
    QVERIFY(!view.grab().isNull());
}

QTEST_MAIN(TestConnectionModel)
#include "tst_connectionmodel.moc"
