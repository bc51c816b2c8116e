#include "link/jsonrpchandler.h"
#include "sessions/sessionmodel.h"
#include "support/duplexdevice.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QTimer>
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
        device.reset(new DuplexDevice);
        server.reset(new FakeRpcServer(device.get()));
        handler.reset(new JsonRpcHandler(device.get(), nullptr));
        model.reset(new SessionModel(handler.get(), nullptr));
        server->sendMarker();
    }

    void cleanup()
    {
        model.reset();
        handler.reset();
        server.reset();
        device.reset();
    }

    void parseRecord_data()
    {
        QTest::addColumn<QJsonObject>("json");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("clients");
        QTest::addColumn<QDateTime>("started");
        const QDateTime when(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
        QTest::newRow("complete") << QJsonObject{{"id", "a"}, {"params", QJsonObject{{"name", "Work"}}},
                                                 {"command", "xterm"}, {"clients", 2},
                                                 {"started", "2024-01-02T03:04:05"}, {"other", 1}}
                                  << "a" << "Work" << "xterm" << 2 << when;
        QTest::newRow("wrong types") << QJsonObject{{"id", 5}, {"params", "Work"}, {"command", QJsonArray()},
                                                    {"clients", "2"}, {"started", 1704164645}}
                                     << "" << "" << "" << 0 << QDateTime();
        QTest::newRow("name not inside params") << QJsonObject{{"id", "a"}, {"name", "Work"}}
                                                << "a" << "" << "" << 0 << QDateTime();
        QTest::newRow("space instead of T") << QJsonObject{{"id", "a"}, {"started", "2024-01-02 03:04:05"}}
                                            << "a" << "" << "" << 0 << QDateTime();
        QTest::newRow("time zone suffix") << QJsonObject{{"id", "a"}, {"started", "2024-01-02T03:04:05Z"}}
                                          << "a" << "" << "" << 0 << QDateTime();
    }

    void parseRecord()
    {
        QFETCH(QJsonObject, json);
        QFETCH(QDateTime, started);
        const Session session = Session::fromJson(json);
        QTEST(session.id, "id");
        QTEST(session.name, "name");
        QTEST(session.command, "command");
        QTEST(session.clients, "clients");
        QCOMPARE(session.started, started);
        QCOMPARE(session.started.isNull(), started.isNull());
    }

    void merge_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("reply");
        QTest::addColumn<QStringList>("signalList");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("into empty, unsorted") << QStringList() << QStringList{"C", "A", "B"}
                                              << QStringList{"ins 0-2"} << QStringList{"A", "B", "C"};
        QTest::newRow("B A into A C") << QStringList{"A", "C"} << QStringList{"B", "A"}
                                      << QStringList{"ins 1-1", "rem 2-2"} << QStringList{"A", "B"};
        QTest::newRow("B A* into A C") << QStringList{"A", "C"} << QStringList{"B", "A*"}
                                       << QStringList{"chg 0", "ins 1-1", "rem 2-2"} << QStringList{"A", "B"};
        QTest::newRow("unchanged") << QStringList{"A", "B", "C"} << QStringList{"C", "B", "A"} << QStringList()
                                   << QStringList{"A", "B", "C"};
        QTest::newRow("all gone") << QStringList{"A", "B", "C"} << QStringList() << QStringList{"rem 0-2"}
                                  << QStringList();
        QTest::newRow("keep middle") << QStringList{"A", "B", "C"} << QStringList{"B"}
                                     << QStringList{"rem 0-0", "rem 1-1"} << QStringList{"B"};
        QTest::newRow("append several") << QStringList{"A"} << QStringList{"C", "A", "B"}
                                        << QStringList{"ins 1-2"} << QStringList{"A", "B", "C"};
        QTest::newRow("interleaved") << QStringList{"B", "D"} << QStringList{"E", "C", "A"}
                                     << QStringList{"ins 0-0", "rem 1-1", "ins 1-1", "rem 2-2", "ins 2-2"}
                                     << QStringList{"A", "C", "E"};
        QTest::newRow("one changed") << QStringList{"A", "B", "C"} << QStringList{"A", "B*", "C"}
                                     << QStringList{"chg 1"} << QStringList{"A", "B", "C"};
        QTest::newRow("remove tail") << QStringList{"A", "B", "C", "D"} << QStringList{"A", "B"}
                                     << QStringList{"rem 2-3"} << QStringList{"A", "B"};
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

    void badRepliesLeaveRows_data()
    {
        QTest::addColumn<bool>("asError");
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("error") << true << QJsonValue(QJsonObject{{"message", "x"}});
        QTest::newRow("object result") << false << QJsonValue(QJsonObject{{"id", "A"}});
        QTest::newRow("null result") << false << QJsonValue();
    }

    void badRepliesLeaveRows()
    {
        QFETCH(bool, asError);
        QFETCH(QJsonValue, value);
        model->startUpdating();
        answerPoll(sessionList({"A", "B"}));
        QSignalSpy updated(model.get(), &SessionModel::sessionsUpdated);
        QStringList seen;
        recordSignals(seen);
        model->forceUpdate();
        const QString id = lastListId();
        if (asError)
            server->replyError(id, value);
        else
            server->replyResult(id, value);
        QVERIFY(seen.isEmpty());
        QCOMPARE(updated.count(), 0);
        QCOMPARE(ids(), (QStringList{"A", "B"}));
    }

    void unusableElementsDropped()
    {
        model->startUpdating();
        answerPoll(QJsonArray{sessionJson("A"), QJsonObject{{"id", ""}}, QJsonObject{{"id", 3}},
                              QJsonObject{{"command", "x"}}, "B", QJsonArray{}, sessionJson("C")});
        QCOMPARE(ids(), (QStringList{"A", "C"}));
    }

    void polling()
    {
        auto *timer = model->findChild<QTimer *>("UpdateTimer");
        QVERIFY(timer);
        QVERIFY(!timer->isActive());
        QVERIFY(server->takeRequests().isEmpty()); // nothing before startUpdating

        model->startUpdating();
        model->startUpdating();
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(!timer->isSingleShot());
        QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].value("method").toString(), QString("Nuvek.list"));
        QCOMPARE(requests[0].value("params").toObject(), QJsonObject());

        // Ticks while the poll is unanswered send nothing.
        tick();
        tick();
        QVERIFY(server->takeRequests().isEmpty());

        server->replyResult(requests[0].value("id").toString(), sessionList({"A"}));
        QCOMPARE(ids(), QStringList{"A"});
        tick();
        QCOMPARE(server->takeRequests().size(), 1);
    }

    void forceUpdateDropsLatePoll()
    {
        auto *timer = model->findChild<QTimer *>("UpdateTimer");
        timer->setTimerType(Qt::PreciseTimer); // so remainingTime() can be compared
        model->startUpdating();
        const QString first = lastListId();
        QTest::qWait(100);
        QVERIFY(timer->remainingTime() < 4950);
        model->forceUpdate();
        QVERIFY(timer->remainingTime() > 4950); // a full interval again
        const QString second = lastListId();
        QVERIFY(!second.isEmpty() && second != first);
        QVERIFY(!handler->pendingIds().contains(first));

        server->replyResult(first, sessionList({"LATE"}));
        QCOMPARE(model->rowCount(), 0);
        server->replyResult(second, sessionList({"A"}));
        QCOMPARE(ids(), QStringList{"A"});
    }

    void destructionCancelsPoll()
    {
        model->startUpdating();
        const QString id = lastListId();
        QCOMPARE(handler->pendingIds(), QStringList{id});
        model.reset();
        QVERIFY(handler->pendingIds().isEmpty());
        server->replyResult(id, sessionList({"A"})); // reaches nothing
    }

    void withoutLink()
    {
        model->startUpdating();
        answerPoll(sessionList({"A"}));
        handler.reset();
        model->forceUpdate();
        tick();
        QVERIFY(model->setData(model->index(0, 0), "New"));
        QCOMPARE(ids(), QStringList{"A"});
        QCOMPARE(model->session(0).name, QString("New"));
        QVERIFY(device->written().isEmpty());
    }

    void rename()
    {
        model->startUpdating();
        answerPoll(sessionList({"A", "B"}));
        tick(); // a poll under way, to be replaced
        const QString poll = lastListId();

        const QModelIndex index = model->index(1, 0);
        QCOMPARE(model->data(index, Qt::EditRole).toString(), QString("xterm B"));
        QStringList seen;
        recordSignals(seen);
        QVERIFY(model->setData(index, "Build", Qt::EditRole));
        QCOMPARE(seen, QStringList{"chg 1 0-0"});
        QCOMPARE(model->data(index).toString(), QString("Build"));
        QVERIFY(!handler->pendingIds().contains(poll));

        const QList<QJsonObject> requests = server->takeRequests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].value("method").toString(), QString("Nuvek.params"));
        QCOMPARE(requests[0].value("params").toObject(), (QJsonObject{{"id", "B"}, {"name", "Build"}}));
        QCOMPARE(requests[1].value("method").toString(), QString("Nuvek.list"));

        // The unanswered rename holds back the timer's poll.
        server->replyResult(requests[1].value("id").toString(), sessionList({"A", "B"}));
        tick();
        QVERIFY(server->takeRequests().isEmpty());
        server->replyResult(requests[0].value("id").toString(), QJsonObject());
        tick();
        QCOMPARE(server->takeRequests().size(), 1);
    }

    void renameRejected_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("role");
        QTest::newRow("date column") << 0 << 2 << int(Qt::EditRole);
        QTest::newRow("display role") << 0 << 0 << int(Qt::DisplayRole);
        QTest::newRow("no such row") << 5 << 0 << int(Qt::EditRole);
    }

    void renameRejected()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(int, role);
        model->startUpdating();
        answerPoll(sessionList({"A"}));
        QVERIFY(!model->setData(model->index(row, column), "X", role));
        QVERIFY(server->takeRequests().isEmpty());
        QCOMPARE(model->session(0).name, QString());
    }

    void displayNameFallsBackToCommand()
    {
        model->startUpdating();
        QJsonObject named = sessionJson("A");
        named.insert("params", QJsonObject{{"name", "Work"}});
        QJsonObject unnamed = sessionJson("B");
        unnamed.remove("params");
        answerPoll(QJsonArray{named, unnamed});
        QCOMPARE(model->data(model->index(0, 0)).toString(), QString("Work"));
        QCOMPARE(model->data(model->index(1, 0)).toString(), QString("xterm B"));
        QCOMPARE(model->data(model->index(1, 0), SessionModel::SortRole).toString(), QString("xterm B"));
        QVERIFY(model->setData(model->index(0, 0), ""));
        QCOMPARE(model->data(model->index(0, 0)).toString(), QString("xterm A"));
        QCOMPARE(model->data(model->index(0, 0), Qt::EditRole).toString(), QString("xterm A"));
    }

    void dateCells()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QDateTime recent = now.addDays(-2);
        const QDateTime old = now.addDays(-8);
        const QString format = "yyyy-MM-ddThh:mm:ss";
        QJsonObject json = sessionJson("A");
        json.insert("started", old.toString(format));
        json.insert("lastConnect", recent.toString(format));
        json.insert("lastDisconnect", "2024-01-02 03:04:05");
        model->startUpdating();
        answerPoll(QJsonArray{json});

        const QDateTime recentSeconds = QDateTime::fromString(recent.toString(format), format);
        const QDateTime oldSeconds = QDateTime::fromString(old.toString(format), format);
        QCOMPARE(model->data(model->index(0, 2)).toString(), oldSeconds.toString("MMM d yyyy h:mm AP"));
        QCOMPARE(model->data(model->index(0, 2), SessionModel::SortRole).toDateTime(), oldSeconds);
        QCOMPARE(model->data(model->index(0, 3)).toString(), recentSeconds.toString("ddd h:mm AP"));
        QCOMPARE(model->data(model->index(0, 4)).toString(), QString());
        QVERIFY(model->data(model->index(0, 4), SessionModel::SortRole).toDateTime().isNull());
        QVERIFY(!model->data(model->index(0, 2), Qt::EditRole).isValid());
        QVERIFY(!model->data(model->index(0, 1)).isValid());
        QVERIFY(!model->data(model->index(0, 5)).isValid());
    }

    void headersAndFlags()
    {
        QCOMPARE(model->columnCount(), 6);
        const QStringList headers{"Name", "", "Started", "Last Connect", "Last Disconnect", ""};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), headers[column]);
            QVERIFY(!model->headerData(column, Qt::Horizontal, Qt::ToolTipRole).isValid());
        }
        QVERIFY(!model->headerData(0, Qt::Vertical).isValid());

        model->startUpdating();
        answerPoll(sessionList({"A"}));
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsDragEnabled);
        QVERIFY(!(model->flags(model->index(0, 2)) & Qt::ItemIsEditable));
        QVERIFY(model->flags(model->index(0, 2)) & Qt::ItemIsDragEnabled);
        QCOMPARE(model->session(7).id, QString());
    }

private:
    void tick() { QMetaObject::invokeMethod(model.get(), "on_UpdateTimer_timeout"); }

    QString lastListId()
    {
        QString id;
        for (const QJsonObject &request : server->takeRequests()) {
            if (request.value("method").toString() == "Nuvek.list")
                id = request.value("id").toString();
        }
        return id;
    }

    void answerPoll(const QJsonArray &sessions)
    {
        const QString id = lastListId();
        QVERIFY(!id.isEmpty());
        server->replyResult(id, sessions);
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
        for (auto signal : {&QAbstractItemModel::columnsInserted, &QAbstractItemModel::columnsRemoved})
            connect(m, signal, this, [&seen] { seen << "columns"; });
        connect(m, &QAbstractItemModel::rowsMoved, this, [&seen] { seen << "moved"; });
        connect(m, &QAbstractItemModel::modelReset, this, [&seen] { seen << "reset"; });
        connect(m, &QAbstractItemModel::layoutChanged, this, [&seen] { seen << "layout"; });
        connect(m, &QAbstractItemModel::headerDataChanged, this, [&seen] { seen << "header"; });
    }

    std::unique_ptr<DuplexDevice> device;
    std::unique_ptr<FakeRpcServer> server;
    std::unique_ptr<JsonRpcHandler> handler;
    std::unique_ptr<SessionModel> model;
};

QTEST_MAIN(TestSessionModel)
#include "tst_sessionmodel.moc"
