#pragma once

#include "sessions/pendingcalls.h"

#include <QDialog>
#include <QJsonValue>
#include <QString>

class BookmarkModel;
class JsonRpcHandler;
class QPushButton;
class QSortFilterProxyModel;
class QStackedWidget;
class QTableView;

// Shows the server's bookmarks and history of one connection on two pages. Bookmarks
// are renamed and edited in place; entries can be deleted, and a history entry can
// be promoted to a bookmark. All data stays on the server.
class BookmarkDialog : public QDialog
{
    Q_OBJECT

public:
    // `handler` may be null: the dialog then stays empty.
    BookmarkDialog(JsonRpcHandler *handler, QWidget *parent = nullptr);

public slots:
    // Starts polling both lists.
    void startUpdating();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_BookmarkButton_clicked(bool checked);
    void on_DeleteBookmarkButton_clicked();
    void on_DeleteHistoryButton_clicked();
    void on_HistoryButton_clicked(bool checked);
    void on_PromoteHistoryButton_clicked();
    void on_BookmarkListModel_bookmarksUpdated();
    void on_HistoryListModel_bookmarksUpdated();

private:
    // Wired by hand to the views' selection models and headers, which carry
    // signals of these names (so these are not slots connected by name).
    void on_BookmarkListView_selectionChanged();
    void on_BookmarkListView_sortIndicatorChanged();
    void on_HistoryListView_selectionChanged();
    void on_HistoryListView_sortIndicatorChanged();
    void setupUi();
    QPushButton *addRowButton(QTableView *view, const char *objectName, const QString &icon);
    void setUpView(QTableView *view, QSortFilterProxyModel *proxy, BookmarkModel *model,
                   int buttonColumnWidth);
    // The source row selected in `view`, or -1.
    int selectedRow(QTableView *view, QSortFilterProxyModel *proxy) const;
    void sendChange(const QJsonObject &params);
    void handleChangeReply(const QJsonValue &result);
    void resortView(QTableView *view, QSortFilterProxyModel *proxy);
    void placeBookmarkButtons();
    void placeHistoryButtons();

    // Holds the link through a guarded pointer; cancels what is left on destruction.
    PendingCalls m_pendingCalls;

    QStackedWidget *m_stackedWidget = nullptr;
    QTableView *m_bookmarkListView = nullptr;
    QTableView *m_historyListView = nullptr;

    BookmarkModel *m_bookmarkModel = nullptr;
    QSortFilterProxyModel *m_bookmarkProxy = nullptr;
    QPushButton *m_deleteBookmarkButton = nullptr;
    BookmarkModel *m_historyModel = nullptr;
    QSortFilterProxyModel *m_historyProxy = nullptr;
    QPushButton *m_deleteHistoryButton = nullptr;
    QPushButton *m_promoteHistoryButton = nullptr;
};
