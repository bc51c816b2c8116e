#include "sessions/bookmark.h"
#include "sessions/bookmarkdialog.h"
#include "sessions/bookmarkmodel.h"
#include "support/fakelink.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

QJsonObject entry(const QString &id, const QString &name, const QString &command,
                  const QString &geometry)
{
    return QJsonObject{{"id", id}, {"name", name}, {"command", command}, {"geometry", geometry}};
}

QStringList ids(const BookmarkModel &model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.entryAt(row).id;
    return result;
}

QJsonArray records(const QStringList &keys)
{
    // "id" or "id=name": the rest of the record follows from the id.
    QJsonArray array;
    for (const QString &key : keys) {
        const QString id = key.section('=', 0, 0);
        const QString name = key.contains('=') ? key.section('=', 1) : "name " + id;
        array.append(entry(id, name, "command " + id, "1024x768"));
    }
    return array;
}

} // namespace

class TestBookmarks : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeLink> link;
    FakeRpcServer *server = nullptr;
    JsonRpcHandler *handler = nullptr;

    QList<QJsonObject> takeRequests()
    {
        const QList<QJsonObject> requests = server->takeRequests();
        for (const QJsonObject &request : requests)
            [&] { QCOMPARE(request.value("method").toString(), QString("Nuvek.bookmark")); }();
        return requests;
    }

    static QString idOf(const QJsonObject &request) { return request.value("id").toString(); }
    static QJsonObject paramsOf(const QJsonObject &request) { return request.value("params").toObject(); }

private slots:
    void init()
    {
        link.reset(new FakeLink);
        server = &link->server;
        handler = &link->handler;
    }

    void cleanup()
    {
        link.reset();
    }

    void readingRecords()
    {
        const QJsonArray array{
            entry("a", "Name", "xterm", "rootless"),
            QJsonObject{{"id", "b"}, {"name", 5}, {"command", QJsonArray{}}, {"geometry", true}},
            QJsonObject{{"id", "c"}},
            entry("", "no id", "x", "y"),
            QJsonObject{{"id", 42}, {"name", "numeric id"}},
            "not an object",
        };
        const QList<Bookmark> list = readBookmarkList(array);
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(0), (Bookmark{"a", "Name", "xterm", "rootless"}));
        QCOMPARE(list.at(1), (Bookmark{"b", "", "", ""}));
        QCOMPARE(list.at(2), (Bookmark{"c", "", "", ""}));
        QVERIFY(list.at(1) != list.at(2));
        QVERIFY(readBookmarkList(QJsonObject{{"id", "a"}}).isEmpty());
        QVERIFY(readBookmarkList(QJsonValue()).isEmpty());
    }

    void cellsAndFlags()
    {
        BookmarkModel model(nullptr, BookmarkModel::Bookmarks);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.mergeEntries({{"1", "Shell", "xterm -ls", "rootless"}, {"2", "", "gimp", "800x600"}});

        const int sortRole = Qt::UserRole + 1;
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("Name"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("Command"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("Window Size"));
        QVERIFY(!model.headerData(3, Qt::Horizontal).isValid());

        const QModelIndex rootless = model.index(0, 2);
        QCOMPARE(rootless.data(Qt::DisplayRole).toString(), QString("Single Application"));
        QCOMPARE(rootless.data(Qt::EditRole).toString(), QString());
        QCOMPARE(rootless.data(sortRole).toString(), QString("Single Application"));
        QCOMPARE(model.index(1, 2).data(Qt::EditRole).toString(), QString("800x600"));
        QCOMPARE(model.index(0, 0).data(sortRole).toString(), QString("Shell"));
        QCOMPARE(model.index(1, 1).data(Qt::DisplayRole).toString(), QString("gimp"));
        QVERIFY(!model.index(0, 3).data(Qt::DisplayRole).isValid());

        for (int column = 0; column < 3; ++column)
            QVERIFY(model.flags(model.index(0, column)) & Qt::ItemIsEditable);
        QVERIFY(!(model.flags(model.index(0, 3)) & Qt::ItemIsEditable));
        QVERIFY(model.flags(model.index(0, 3)) & Qt::ItemIsDragEnabled);
        QCOMPARE(model.entryAt(5), Bookmark());
        QCOMPARE(model.entryAt(-1), Bookmark());
    }

    void merge_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("inserted");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("changed");

        QTest::newRow("fill, sorted by id") << QStringList{} << QStringList{"c", "a", "b"}
                                            << QStringList{"a", "b", "c"} << 3 << 0 << 0;
        QTest::newRow("same again") << QStringList{"a", "b"} << QStringList{"b", "a"}
                                    << QStringList{"a", "b"} << 0 << 0 << 0;
        QTest::newRow("one renamed") << QStringList{"a", "b"} << QStringList{"a", "b=Other"}
                                     << QStringList{"a", "b"} << 0 << 0 << 1;
        QTest::newRow("insert in the middle") << QStringList{"a", "c"} << QStringList{"a", "b", "c"}
                                              << QStringList{"a", "b", "c"} << 1 << 0 << 0;
        QTest::newRow("remove and add") << QStringList{"a", "b", "d"} << QStringList{"c", "d", "e"}
                                        << QStringList{"c", "d", "e"} << 2 << 2 << 0;
        QTest::newRow("empty") << QStringList{"a", "b"} << QStringList{} << QStringList{} << 0 << 2 << 0;
    }

    void merge()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QStringList, rows);
        QFETCH(int, inserted);
        QFETCH(int, removed);
        QFETCH(int, changed);

        BookmarkModel model(nullptr, BookmarkModel::History);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.mergeEntries(readBookmarkList(records(before)));

        QSignalSpy insertSpy(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removeSpy(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changeSpy(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy updatedSpy(&model, &BookmarkModel::bookmarksUpdated);
        model.mergeEntries(readBookmarkList(records(after)));

        QCOMPARE(ids(model), rows);
        QCOMPARE(insertSpy.size(), inserted);
        QCOMPARE(removeSpy.size(), removed);
        QCOMPARE(changeSpy.size(), changed);
        QCOMPARE(updatedSpy.size(), 1);
        if (changed)
            QCOMPARE(model.entryAt(1).name, QString("Other"));
    }

    void replyPicksItsOwnList_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("rows");

        QTest::newRow("suggestions") << int(BookmarkModel::Suggestions) << QStringList{"s"};
        QTest::newRow("bookmarks") << int(BookmarkModel::Bookmarks) << QStringList{"b1", "b2"};
        QTest::newRow("history") << int(BookmarkModel::History) << QStringList{"h"};
    }

    void replyPicksItsOwnList()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, rows);

        BookmarkModel model(handler, kind);
        model.startUpdating();
        QList<QJsonObject> requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(paramsOf(requests.first()), QJsonObject({{"op", "list"}}));
        server->replyResult(idOf(requests.first()),
                            QJsonObject{{"suggestions", records({"s"})},
                                        {"bookmarks", records({"b2", "", "b1"})},
                                        {"history", records({"h"})}});
        QCOMPARE(ids(model), rows);

        // An error changes nothing; a result without the model's list empties it.
        model.forceUpdate();
        requests = takeRequests();
        server->replyError(idOf(requests.first()), QJsonObject{{"message", "busy"}});
        QCOMPARE(ids(model), rows);
        model.forceUpdate();
        requests = takeRequests();
        server->replyResult(idOf(requests.first()), QJsonObject{{"other", records({"x"})}});
        QCOMPARE(ids(model), QStringList());
    }

    void polling()
    {
        BookmarkModel model(handler, BookmarkModel::Bookmarks);
        model.startUpdating();
        model.startUpdating(); // already running: nothing more
        QList<QJsonObject> requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        const QString first = idOf(requests.first());

        // While a list request is outstanding the poll sends nothing.
        QVERIFY(QMetaObject::invokeMethod(&model, "on_UpdateTimer_timeout"));
        QCOMPARE(takeRequests().size(), 0);

        server->replyResult(first, QJsonObject{{"bookmarks", records({"a"})}});
        QVERIFY(QMetaObject::invokeMethod(&model, "on_UpdateTimer_timeout"));
        requests = takeRequests();
        QCOMPARE(requests.size(), 1);

        // A forced update drops the outstanding request; its late reply is lost.
        const QString stale = idOf(requests.first());
        model.forceUpdate();
        requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(handler->pendingIds(), QStringList{idOf(requests.first())});
        server->replyResult(stale, QJsonObject{{"bookmarks", records({"stale"})}});
        QCOMPARE(ids(model), QStringList{"a"});
    }

    void timerPolls()
    {
        BookmarkModel model(handler, BookmarkModel::Bookmarks);
        auto *timer = model.findChild<QTimer *>("UpdateTimer");
        QVERIFY(timer);
        QVERIFY(!timer->isActive());
        model.startUpdating();
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 5000);
    }

    void editInPlace_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QString>("display");

        const QJsonObject base{{"op", "edit"}, {"id", "b1"}, {"name", "Shell"},
                               {"command", "xterm -ls"}, {"geometry", "1024x768"}};
        QJsonObject renamed = base;
        renamed["name"] = "Terminal";
        QJsonObject command = base;
        command["command"] = "xterm -ls -fg white";
        QJsonObject rootless = base;
        rootless["geometry"] = "rootless";
        QJsonObject sized = base;
        sized["geometry"] = "800x600";

        QTest::newRow("name") << 0 << "Terminal" << renamed << "Terminal";
        QTest::newRow("command") << 1 << "xterm -ls -fg white" << command << "xterm -ls -fg white";
        QTest::newRow("empty size is single application") << 2 << "" << rootless << "Single Application";
        QTest::newRow("size") << 2 << "800x600" << sized << "800x600";
    }

    void editInPlace()
    {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QJsonObject, params);
        QFETCH(QString, display);

        BookmarkDialog dialog(handler);
        dialog.startUpdating();
        for (const QJsonObject &request : takeRequests())
            server->replyResult(idOf(request),
                                QJsonObject{{"bookmarks", QJsonArray{entry("b1", "Shell", "xterm -ls", "1024x768")}},
                                            {"history", QJsonArray{}}});
        auto *view = dialog.findChild<QTableView *>("BookmarkListView");
        dialog.findChild<QPushButton *>("BookmarkButton")->click();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        // A poll under way when the edit is made is dropped in favour of the edit.
        auto *model = dialog.findChild<BookmarkModel *>("BookmarkListModel");
        QVERIFY(QMetaObject::invokeMethod(model, "on_UpdateTimer_timeout"));
        const QString poll = idOf(takeRequests().value(0));

        const QModelIndex cell = view->model()->index(0, column);
        view->setCurrentIndex(cell);
        QTest::keyClick(view, Qt::Key_F2);
        auto *editor = view->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        if (column == 2 && text.isEmpty())
            QCOMPARE(editor->text(), QString("1024x768"));
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the delegate commits through a queued call
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!view->viewport()->findChild<QLineEdit *>());

        QCOMPARE(view->model()->index(0, column).data().toString(), display);
        const QList<QJsonObject> requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(paramsOf(requests.first()), params);
        QVERIFY(!handler->pendingIds().contains(poll));

        // The server's answer replaces the list.
        server->replyResult(idOf(requests.first()),
                            QJsonObject{{"bookmarks", QJsonArray{entry("b1", "Edited", "xterm", "rootless")}}});
        QCOMPARE(model->entryAt(0), (Bookmark{"b1", "Edited", "xterm", "rootless"}));

        // Opening the editor on a single-application size shows an empty field.
        view->setCurrentIndex(view->model()->index(0, 2));
        QTest::keyClick(view, Qt::Key_F2);
        editor = view->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString());
    }

    void dialogActions()
    {
        BookmarkDialog dialog(handler);
        auto *stack = dialog.findChild<QStackedWidget *>("stackedWidget");
        auto *bookmarkView = dialog.findChild<QTableView *>("BookmarkListView");
        auto *historyView = dialog.findChild<QTableView *>("HistoryListView");
        auto *deleteBookmark = dialog.findChild<QPushButton *>("DeleteBookmarkButton");
        auto *promote = dialog.findChild<QPushButton *>("PromoteHistoryButton");
        auto *deleteHistory = dialog.findChild<QPushButton *>("DeleteHistoryButton");
        auto *bookmarkModel = dialog.findChild<BookmarkModel *>("BookmarkListModel");
        auto *historyModel = dialog.findChild<BookmarkModel *>("HistoryListModel");
        QVERIFY(stack && bookmarkView && historyView && deleteBookmark && promote && deleteHistory
                && bookmarkModel && historyModel);
        QCOMPARE(deleteBookmark->parent(), bookmarkView->viewport());
        QCOMPARE(promote->parent(), historyView->viewport());
        QCOMPARE(historyView->editTriggers(), QAbstractItemView::NoEditTriggers);

        QCOMPARE(stack->currentIndex(), 1);
        QVERIFY(dialog.findChild<QPushButton *>("HistoryButton")->isChecked());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        dialog.startUpdating();
        QList<QJsonObject> requests = takeRequests();
        QCOMPARE(requests.size(), 2);
        const QJsonObject lists{
            {"suggestions", records({"s1"})},
            {"bookmarks", QJsonArray{entry("b1", "Shell", "xterm -ls", "1024x768")}},
            {"history", QJsonArray{entry("h2", "", "gimp", "rootless"), entry("h1", "", "abiword", "800x600"),
                                   entry("", "", "never shown", "")}}};
        for (const QJsonObject &request : requests)
            server->replyResult(idOf(request), lists);
        QCOMPARE(ids(*bookmarkModel), QStringList{"b1"});
        QCOMPARE(ids(*historyModel), QStringList({"h1", "h2"}));
        // Sorted by command: "abiword" above "gimp".
        QCOMPARE(historyView->model()->index(0, 1).data().toString(), QString("abiword"));
        QVERIFY(promote->isHidden() && deleteHistory->isHidden() && deleteBookmark->isHidden());

        // Selecting a history row puts its two buttons into the button column.
        historyView->selectRow(1);
        QVERIFY(promote->isVisible() && deleteHistory->isVisible());
        const QRect cell = historyView->visualRect(historyView->model()->index(1, 3));
        const int cy = (cell.top() + cell.bottom()) / 2;
        QCOMPARE(promote->geometry(), QRect(cell.left() + 4, cy - 10, 21, 21));
        QCOMPARE(deleteHistory->geometry(), QRect(cell.left() + 28, cy - 10, 21, 21));
        QVERIFY(historyView->columnWidth(3) >= 53);

        // Promoting adds a bookmark: "edit" without an id.
        promote->click();
        requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(paramsOf(requests.first()),
                 QJsonObject({{"op", "edit"}, {"name", ""}, {"command", "gimp"}, {"geometry", "rootless"}}));
        server->replyResult(idOf(requests.first()),
                            QJsonObject{{"bookmarks", QJsonArray{entry("b1", "Shell", "xterm -ls", "1024x768"),
                                                                 entry("b3", "", "gimp", "rootless")}},
                                        {"history", records({"h1", "h2"})}});
        QCOMPARE(ids(*bookmarkModel), QStringList({"b1", "b3"}));
        QCOMPARE(historyModel->entryAt(0).name, QString("name h1"));
        // Both models then ask again at once.
        requests = takeRequests();
        QCOMPARE(requests.size(), 2);
        for (const QJsonObject &request : requests)
            QCOMPARE(paramsOf(request), QJsonObject({{"op", "list"}}));

        // Deleting a history entry.
        historyView->selectRow(0);
        const QString historyId = historyModel->entryAt(
            qobject_cast<QSortFilterProxyModel *>(historyView->model())->mapToSource(
                historyView->model()->index(0, 0)).row()).id;
        deleteHistory->click();
        requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(paramsOf(requests.first()), QJsonObject({{"op", "delete"}, {"id", historyId}}));

        // Deleting a bookmark, on the other page.
        dialog.findChild<QPushButton *>("BookmarkButton")->click();
        QCOMPARE(stack->currentIndex(), 0);
        bookmarkView->selectRow(0);
        QVERIFY(deleteBookmark->isVisible());
        const QRect bookmarkCell = bookmarkView->visualRect(bookmarkView->model()->index(0, 3));
        QCOMPARE(deleteBookmark->geometry().left(), bookmarkCell.left() + 4);
        deleteBookmark->click();
        requests = takeRequests();
        QCOMPARE(requests.size(), 1);
        const QString deleteId = idOf(requests.first());
        QCOMPARE(paramsOf(requests.first()).value("op").toString(), QString("delete"));
        server->replyResult(deleteId, QJsonObject{{"bookmarks", records({"b3"})}});
        QCOMPARE(ids(*bookmarkModel), QStringList{"b3"});
        QCOMPARE(ids(*historyModel), QStringList()); // no "history" array: emptied
        QVERIFY(promote->isHidden() && deleteHistory->isHidden());
    }

    void buttonColumnDoesNotSort()
    {
        BookmarkDialog dialog(handler);
        dialog.startUpdating();
        for (const QJsonObject &request : takeRequests())
            server->replyResult(idOf(request), QJsonObject{{"history", records({"h1", "h2"})}});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto *view = dialog.findChild<QTableView *>("HistoryListView");
        QHeaderView *header = view->horizontalHeader();
        QCOMPARE(header->sortIndicatorSection(), 1);

        const auto clickSection = [header](int section) {
            const QPoint pos(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                             header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
        };
        clickSection(3);
        QCOMPARE(header->sortIndicatorSection(), 1);
        clickSection(0);
        QCOMPARE(header->sortIndicatorSection(), 0);
    }

    void closingCancelsCalls()
    {
        auto *dialog = new BookmarkDialog(handler);
        dialog->startUpdating();
        QCOMPARE(handler->pendingIds().size(), 2);
        const QList<QJsonObject> requests = takeRequests();
        delete dialog;
        QVERIFY(handler->pendingIds().isEmpty());
        for (const QJsonObject &request : requests)
            server->replyResult(idOf(request), QJsonObject{{"history", records({"h1"})}});
        QVERIFY(handler->isOk());

        // Without a link nothing is sent and nothing breaks.
        BookmarkDialog offline(nullptr);
        offline.startUpdating();
        QCOMPARE(link->device.written(), QByteArray());
    }
};

QTEST_MAIN(TestBookmarks)
#include "tst_bookmarks.moc"
