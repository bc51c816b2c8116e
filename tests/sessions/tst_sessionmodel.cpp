#include "sessions/sessionmodel.h"
#include "support/fakelink.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QtTest>

#include <memory>

namespace {

// "A" is a session with id A; "A*" the same session with another command.
QJsonObject sessionJson(const QString &spec)
{
    const bool changed = spec.endsWith('*');
    const QString id = changed ? spec.chopped(1) : spec;
    return QJsonObject{{"id", id},
                       {"command", changed ? "xterm -changed" : "xterm " + id},
                       {"params", QJsonObject{{"name", ""}}},
                       {"geometry", "1024x768"},
                       {"clients", 0},
                       {"started", "2024-01-02T03:04:05"}};
}

QJsonArray sessionList(const QStringList &specs)
{
    QJsonArray array;
    for (const QString &spec : specs)
        array.append(sessionJson(spec));
    return array;
}

} // namespace

class TestSessionModel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        link = std::make_unique<FakeLink>();
        model = std::make_unique<SessionModel>(&link->handler);
    }

    void cleanup()
    {
        model.reset();
        link.reset();
    }

    void merge_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("reply");
        QTest::addColumn<QStringList>("signalList");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("into empty, unsorted") << QStringList() << QStringList{"C", "A", "B"}
                                              << QStringList{"ins 0-2"} << QStringList{"A", "B", "C"};
        QTest::newRow("B A* into A C") << QStringList{"A", "C"} << QStringList{"B", "A*"}
                                       << QStringList{"chg 0", "ins 1-1", "rem 2-2"} << QStringList{"A", "B"};
        QTest::newRow("interleaved") << QStringList{"B", "D"} << QStringList{"E", "C", "A"}
                                     << QStringList{"ins 0-0", "rem 1-1", "ins 1-1", "rem 2-2", "ins 2-2"}
                                     << QStringList{"A", "C", "E"};
        QTest::newRow("plain string order") << QStringList{"b"} << QStringList{"a", "b", "B"}
                                            << QStringList{"ins 0-0", "ins 1-1"} << QStringList{"B", "a", "b"};
    }

    void merge()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, reply);
        QFETCH(QStringList, after);
        QAbstractItemModelTester tester(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        model->startUpdating();
        answerPoll(sessionList(before));
        QCOMPARE(ids(), before);

        // Rows that survive keep their persistent indexes.
        QList<QPersistentModelIndex> persistent;
        for (int row = 0; row < model->rowCount(); ++row)
            persistent << QPersistentModelIndex(model->index(row, 0));

        QStringList seen;
        recordSignals(seen);
        QSignalSpy updated(model.get(), &SessionModel::sessionsUpdated);
        model->forceUpdate();
        answerPoll(sessionList(reply));

        QTEST(seen, "signalList"); // and no reset or layout change
        QCOMPARE(updated.count(), 1);
        QCOMPARE(ids(), after);
        for (int i = 0; i < persistent.size(); ++i) {
            if (after.contains(before[i])) {
                QVERIFY(persistent[i].isValid());
                QCOMPARE(model->session(persistent[i].row()).id, before[i]);
            } else {
                QVERIFY(!persistent[i].isValid());
            }
        }
        // The changed record is really taken over.
        for (const QString &spec : reply) {
            if (spec.endsWith('*'))
                QCOMPARE(model->session(ids().indexOf(spec.chopped(1))).command, QString("xterm -changed"));
        }
    }

    // One poll at a time: ticks while one is unanswered send nothing; forceUpdate drops it.
    void polling()
    {
        QVERIFY(link->server.takeRequests().isEmpty()); // nothing before startUpdating
        model->startUpdating();
        model->startUpdating();
        QList<QJsonObject> requests = link->server.takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].value("method").toString(), QString("Nuvek.list"));
        tick();
        QVERIFY(link->server.takeRequests().isEmpty());
        model->forceUpdate();
        const QString late = requests[0].value("id").toString(), current = lastListId();
        QVERIFY(!current.isEmpty() && current != late);
        QVERIFY(!link->handler.pendingIds().contains(late));
        link->server.replyResult(late, sessionList({"LATE"}));
        QCOMPARE(model->rowCount(), 0);
        link->server.replyResult(current, sessionList({"A"}));
        QCOMPARE(ids(), QStringList{"A"});
        tick();
        QCOMPARE(link->server.takeRequests().size(), 1);
    }

private:
    void tick() { QMetaObject::invokeMethod(model.get(), "on_UpdateTimer_timeout"); }

    QString lastListId()
    {
        QString id;
        for (const QJsonObject &request : link->server.takeRequests()) {
            if (request.value("method").toString() == "Nuvek.list")
                id = request.value("id").toString();
        }
        return id;
    }

    void answerPoll(const QJsonArray &sessions)
    {
        const QString id = lastListId();
        QVERIFY(!id.isEmpty());
        link->server.replyResult(id, sessions);
    }

    QStringList ids() const
    {
        QStringList list;
        for (const Session &session : model->sessions())
            list << session.id;
        return list;
    }

    void recordSignals(QStringList &seen)
    {
        SessionModel *m = model.get();
        connect(m, &QAbstractItemModel::rowsInserted, this,
                [&seen](const QModelIndex &, int first, int last) { seen << QString("ins %1-%2").arg(first).arg(last); });
        connect(m, &QAbstractItemModel::rowsRemoved, this,
                [&seen](const QModelIndex &, int first, int last) { seen << QString("rem %1-%2").arg(first).arg(last); });
        connect(m, &QAbstractItemModel::dataChanged, this,
                [&seen](const QModelIndex &from, const QModelIndex &to, const QVector<int> &roles) {
                    if (from.row() != to.row() || !roles.isEmpty())
                        seen << "bad dataChanged";
                    else if (from.column() == 0 && to.column() == 5)
                        seen << QString("chg %1").arg(from.row());
                    else
                        seen << QString("chg %1 %2-%3").arg(from.row()).arg(from.column()).arg(to.column());
                });
        connect(m, &QAbstractItemModel::modelReset, this, [&seen] { seen << "reset"; });
        connect(m, &QAbstractItemModel::layoutChanged, this, [&seen] { seen << "layout"; });
    }

    std::unique_ptr<FakeLink> link;
    std::unique_ptr<SessionModel> model;
};

QTEST_MAIN(TestSessionModel)
#include "tst_sessionmodel.moc"
