#include "sessions/bookmarkdialog.h"

#include "app/windowstyle.h"

#include "sessions/bookmark.h"
#include "sessions/bookmarkmodel.h"
#include "sessions/mindelegate.h"
#include "sessions/servermethods.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTableView>

namespace {

constexpr int BookmarkPage = 0;
constexpr int HistoryPage = 1;

// A 21 by 21 square at `left`, centred on the row rectangle `row`.
QRect rowButtonRect(const QRect &row, int left)
{
    const int cy = (row.top() + row.bottom()) / 2;
    return QRect(QPoint(left, cy - 10), QPoint(left + 20, cy + 10));
}

QPushButton *flatPageButton(QWidget *parent, const char *objectName, const QString &icon,
                            const QString &toolTip)
{
    QPushButton *button = makeFlatButton(parent, objectName, icon, toolTip);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setAutoDefault(false);
    return button;
}

} // namespace

BookmarkDialog::BookmarkDialog(JsonRpcHandler *handler, QWidget *parent)
    : QDialog(parent)
    , m_pendingCalls(handler)
{
    setupUi();

    m_bookmarkModel = new BookmarkModel(handler, BookmarkModel::Bookmarks, this);
    m_bookmarkModel->setObjectName(QStringLiteral("BookmarkListModel"));
    m_bookmarkProxy = new QSortFilterProxyModel(this);
    setUpView(m_bookmarkListView, m_bookmarkProxy, m_bookmarkModel, 29);

    m_historyModel = new BookmarkModel(handler, BookmarkModel::History, this);
    m_historyModel->setObjectName(QStringLiteral("HistoryListModel"));
    m_historyProxy = new QSortFilterProxyModel(this);
    setUpView(m_historyListView, m_historyProxy, m_historyModel, 53);

    const QString closeIcon = QStringLiteral(":/images/resources/close-round-white.svg");
    m_deleteBookmarkButton = addRowButton(m_bookmarkListView, "DeleteBookmarkButton", closeIcon);
    m_promoteHistoryButton = addRowButton(
        m_historyListView, "PromoteHistoryButton",
        QStringLiteral(":/images/resources/android-star-outline-white.svg"));
    m_deleteHistoryButton = addRowButton(m_historyListView, "DeleteHistoryButton", closeIcon);

    QMetaObject::connectSlotsByName(this);

    // The views and their headers carry no signals of these names; they are wired here.
    connect(m_bookmarkListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BookmarkDialog::on_BookmarkListView_selectionChanged);
    connect(m_bookmarkListView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &BookmarkDialog::on_BookmarkListView_sortIndicatorChanged);
    connect(m_historyListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BookmarkDialog::on_HistoryListView_selectionChanged);
    connect(m_historyListView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &BookmarkDialog::on_HistoryListView_sortIndicatorChanged);
}

void BookmarkDialog::setupUi()
{
    setObjectName(QStringLiteral("BookmarkDialog"));
    resize(400, 300);
    setStyleSheet(listWindowStyleSheet());

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    auto *innerLayout = new QGridLayout;
    innerLayout->setObjectName(QStringLiteral("gridLayout_2"));

    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(3, 3, 3, 3);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    horizontalLayout->addWidget(flatPageButton(this, "BookmarkButton",
                                               QStringLiteral(":/images/resources/ios-bookmarks-outline.svg"),
                                               tr("Bookmarks")));
    QPushButton *historyButton = flatPageButton(
        this, "HistoryButton", QStringLiteral(":/images/resources/ios-clock-outline.svg"), tr("History"));
    historyButton->setChecked(true);
    horizontalLayout->addWidget(historyButton);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    innerLayout->addLayout(horizontalLayout, 0, 0, 1, 3);

    m_stackedWidget = new QStackedWidget(this);
    m_stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    const auto addPage = [this](const char *pageName, const char *viewName) {
        auto *page = new QWidget;
        page->setObjectName(QLatin1String(pageName));
        auto *layout = new QGridLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *view = new QTableView(page);
        view->setObjectName(QLatin1String(viewName));
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSortingEnabled(true);
        view->verticalHeader()->setVisible(false);
        layout->addWidget(view, 0, 0);
        m_stackedWidget->addWidget(page);
        return view;
    };
    m_bookmarkListView = addPage("BookmarkPage", "BookmarkListView");
    m_historyListView = addPage("HistoryPage", "HistoryListView");
    m_historyListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_stackedWidget->setCurrentIndex(HistoryPage);
    innerLayout->addWidget(m_stackedWidget, 1, 0, 1, 3);
    gridLayout->addLayout(innerLayout, 0, 0);

    auto *buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    gridLayout->addWidget(buttonBox, 1, 0);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QPushButton *BookmarkDialog::addRowButton(QTableView *view, const char *objectName,
                                          const QString &icon)
{
    auto *button = new QPushButton(view->viewport());
    button->setObjectName(QLatin1String(objectName));
    button->setIcon(QIcon(icon));
    button->setFlat(true);
    button->setProperty("myAction", true);
    button->hide();
    return button;
}

void BookmarkDialog::setUpView(QTableView *view, QSortFilterProxyModel *proxy,
                               BookmarkModel *model, int buttonColumnWidth)
{
    proxy->setSortRole(BookmarkModel::SortRole);
    proxy->setSortLocaleAware(true);
    proxy->setDynamicSortFilter(false);
    proxy->setSourceModel(model);
    view->setModel(proxy);
    view->setItemDelegateForColumn(BookmarkModel::ButtonColumn, new MinDelegate(buttonColumnWidth, view));
    view->sortByColumn(BookmarkModel::CommandColumn, Qt::AscendingOrder);
    view->horizontalHeader()->viewport()->installEventFilter(this);
}

void BookmarkDialog::startUpdating()
{
    m_bookmarkModel->startUpdating();
    m_historyModel->startUpdating();
}

bool BookmarkDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        for (QTableView *view : {m_bookmarkListView, m_historyListView}) {
            QHeaderView *header = view->horizontalHeader();
            if (watched != header->viewport())
                continue;
            const auto *mouse = static_cast<QMouseEvent *>(event);
            // The button column cannot be clicked to sort.
            if (header->logicalIndexAt(mouse->pos()) == BookmarkModel::ButtonColumn)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void BookmarkDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placeBookmarkButtons();
    placeHistoryButtons();
}

void BookmarkDialog::on_BookmarkButton_clicked(bool checked)
{
    if (checked)
        m_stackedWidget->setCurrentIndex(BookmarkPage);
}

void BookmarkDialog::on_HistoryButton_clicked(bool checked)
{
    if (checked)
        m_stackedWidget->setCurrentIndex(HistoryPage);
}

int BookmarkDialog::selectedRow(QTableView *view, QSortFilterProxyModel *proxy) const
{
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return -1;
    return proxy->mapToSource(selected.first()).row();
}

void BookmarkDialog::on_DeleteBookmarkButton_clicked()
{
    const Bookmark entry = m_bookmarkModel->entryAt(selectedRow(m_bookmarkListView, m_bookmarkProxy));
    if (!entry.id.isEmpty())
        sendChange(bookmarkDeleteParams(entry.id));
}

void BookmarkDialog::on_DeleteHistoryButton_clicked()
{
    const Bookmark entry = m_historyModel->entryAt(selectedRow(m_historyListView, m_historyProxy));
    if (!entry.id.isEmpty())
        sendChange(bookmarkDeleteParams(entry.id));
}

void BookmarkDialog::on_PromoteHistoryButton_clicked()
{
    Bookmark entry = m_historyModel->entryAt(selectedRow(m_historyListView, m_historyProxy));
    if (entry.id.isEmpty())
        return;
    // Without an id the server adds a new bookmark.
    entry.id.clear();
    sendChange(bookmarkEditParams(entry));
}

void BookmarkDialog::sendChange(const QJsonObject &params)
{
    m_pendingCalls.call(QLatin1String(ServerMethod::Bookmark), params,
                        [this](const QString &, const QJsonValue &result, const QJsonValue &) {
                            handleChangeReply(result);
                        });
}

void BookmarkDialog::handleChangeReply(const QJsonValue &result)
{
    if (!result.isObject())
        return;
    const QJsonObject object = result.toObject();
    for (BookmarkModel *model : {m_bookmarkModel, m_historyModel}) {
        model->mergeEntries(readBookmarkList(object.value(model->listName())));
        model->forceUpdate();
    }
}

void BookmarkDialog::resortView(QTableView *view, QSortFilterProxyModel *proxy)
{
    proxy->sort(proxy->sortColumn(), proxy->sortOrder());
    QHeaderView *header = view->horizontalHeader();
    header->setSectionResizeMode(BookmarkModel::NameColumn, QHeaderView::Stretch);
    for (int column = BookmarkModel::CommandColumn; column <= BookmarkModel::ButtonColumn; ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

void BookmarkDialog::on_BookmarkListModel_bookmarksUpdated()
{
    resortView(m_bookmarkListView, m_bookmarkProxy);
    placeBookmarkButtons();
}

void BookmarkDialog::on_HistoryListModel_bookmarksUpdated()
{
    resortView(m_historyListView, m_historyProxy);
    placeHistoryButtons();
}

void BookmarkDialog::on_BookmarkListView_selectionChanged()
{
    placeBookmarkButtons();
}

void BookmarkDialog::on_BookmarkListView_sortIndicatorChanged()
{
    placeBookmarkButtons();
}

void BookmarkDialog::on_HistoryListView_selectionChanged()
{
    placeHistoryButtons();
}

void BookmarkDialog::on_HistoryListView_sortIndicatorChanged()
{
    placeHistoryButtons();
}

void BookmarkDialog::placeBookmarkButtons()
{
    m_deleteBookmarkButton->hide();
    const int row = selectedRow(m_bookmarkListView, m_bookmarkProxy);
    if (m_bookmarkModel->entryAt(row).id.isEmpty())
        return;
    const QRect r = m_bookmarkListView->visualRect(
        m_bookmarkProxy->mapFromSource(m_bookmarkModel->index(row, BookmarkModel::ButtonColumn)));
    m_deleteBookmarkButton->setGeometry(rowButtonRect(r, r.left() + 4));
    m_deleteBookmarkButton->show();
}

void BookmarkDialog::placeHistoryButtons()
{
    m_promoteHistoryButton->hide();
    m_deleteHistoryButton->hide();
    const int row = selectedRow(m_historyListView, m_historyProxy);
    if (m_historyModel->entryAt(row).id.isEmpty())
        return;
    const QRect r = m_historyListView->visualRect(
        m_historyProxy->mapFromSource(m_historyModel->index(row, BookmarkModel::ButtonColumn)));
    m_promoteHistoryButton->setGeometry(rowButtonRect(r, r.left() + 4));
    m_deleteHistoryButton->setGeometry(rowButtonRect(r, r.left() + 28));
    m_promoteHistoryButton->show();
    m_deleteHistoryButton->show();
}
