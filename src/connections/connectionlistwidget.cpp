#include "connections/connectionlistwidget.h"

#include "app/windowstyle.h"

#include "app/aboutdialog.h"
#include "app/bringforward.h"
#include "app/errorbox.h"
#include "connections/connectioneditor.h"
#include "connections/connectionfolders.h"
#include "connections/connectionmodel.h"
#include "connections/linkfailure.h"
#include "connections/richtextdelegate.h"
#include "link/askpasshandler.h"
#include "link/jsonrpchandler.h"
#include "link/operationstatusdialog.h"
#include "link/questiondialog.h"
#include "link/sshdevice.h"
#include "sessions/joinsessiondialog.h"
#include "sessions/joinsharedsession.h"
#include "sessions/sessionlistwidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocalServer>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QSpacerItem>
#include <QTableView>
#include <QUrl>

#include <algorithm>

namespace {

const char makerSite[] = "https://www.ostrane.example";
const char geometryKey[] = "Geometry";
const char closeWithMonitor[] = "CloseWithMonitor";

} // namespace

ConnectionListWidget::ConnectionListWidget(const QString &userFolder, const QString &globalFolder,
                                           QWidget *parent, bool globalDataDirWritable)
    : QWidget(parent)
    , m_userFolder(QDir::cleanPath(userFolder))
    , m_globalFolder(QDir::cleanPath(globalFolder))
    , m_globalWritable(globalDataDirWritable)
{
    m_model = new ConnectionModel(this);
    m_proxy = new QSortFilterProxyModel(this);

    buildForm();
    m_aboutAction->setText(tr("About %1").arg(QCoreApplication::applicationName()));

    auto *settingsMenu = new QMenu(this);
    settingsMenu->setObjectName(QStringLiteral("SettingsMenu"));
    settingsMenu->addAction(m_aboutAction);
    settingsMenu->addAction(m_documentationAction);
    m_settingsButton->setMenu(settingsMenu);

    m_connectionListView->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_connectionListView->setItemDelegate(new RichTextDelegate(this));
    m_connectionListView->setModel(m_proxy);
    connect(m_connectionListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConnectionListWidget::on_ConnectionListView_selectionChanged);
    // The header stretches its column after the window has been resized; follow it.
    connect(m_connectionListView->horizontalHeader(), &QHeaderView::sectionResized, this,
            &ConnectionListWidget::on_ConnectionListView_selectionChanged);

    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSortLocaleAware(true);
    m_proxy->setSortRole(ConnectionModel::NameRole);
    m_proxy->setSourceModel(m_model);
    m_connectionListView->sortByColumn(0, Qt::AscendingOrder);

    createRowButtons();
    QMetaObject::connectSlotsByName(this);

    restoreGeometry(QSettings().value(QLatin1String(geometryKey)).toByteArray());
    loadConnections();
}

void ConnectionListWidget::buildForm()
{
    setObjectName(QStringLiteral("ConnectionListWidget"));
    resize(350, 400);
    setStyleSheet(listWindowStyleSheet());

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);

    auto *topLayout = new QHBoxLayout();
    topLayout->setObjectName(QStringLiteral("horizontalLayout"));
    topLayout->setContentsMargins(3, 3, 3, 3);
    topLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_joinSessionButton = makeFlatButton(this, "JoinSessionButton",
                                         ":/images/resources/android-share-alt.svg");
    m_joinSessionButton->setToolTip(tr("Join a session."));
    topLayout->addWidget(m_joinSessionButton);
    topLayout->addItem(new QSpacerItem(6, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    m_addConnectionButton = makeFlatButton(this, "AddConnectionButton",
                                           ":/images/resources/plus-round.svg");
    m_addConnectionButton->setToolTip(tr("Add a new connection."));
    topLayout->addWidget(m_addConnectionButton);
    gridLayout->addLayout(topLayout, 0, 0);

    m_connectionListView = new QTableView(this);
    m_connectionListView->setObjectName(QStringLiteral("ConnectionListView"));
    m_connectionListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_connectionListView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_connectionListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_connectionListView->setShowGrid(false);
    m_connectionListView->horizontalHeader()->setVisible(false);
    m_connectionListView->verticalHeader()->setVisible(false);
    gridLayout->addWidget(m_connectionListView, 1, 0);

    auto *bottomLayout = new QHBoxLayout();
    bottomLayout->setObjectName(QStringLiteral("horizontalLayout_2"));
    bottomLayout->setContentsMargins(3, 3, 3, 3);
    bottomLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_settingsButton = makeFlatButton(this, "SettingsButton",
                                      ":/images/resources/ios-information-outline.svg");
    bottomLayout->addWidget(m_settingsButton);
    gridLayout->addLayout(bottomLayout, 4, 0);

    m_aboutAction = new QAction(this);
    m_aboutAction->setObjectName(QStringLiteral("AboutAction"));
    m_aboutAction->setToolTip(tr("Show the About dialog."));
    m_documentationAction = new QAction(tr("Documentation"), this);
    m_documentationAction->setObjectName(QStringLiteral("DocumentationAction"));
    m_documentationAction->setToolTip(tr("Show the program documentation."));

    setTabOrder(m_joinSessionButton, m_addConnectionButton);
    setTabOrder(m_addConnectionButton, m_connectionListView);
    setTabOrder(m_connectionListView, m_settingsButton);
}

void ConnectionListWidget::createRowButtons()
{
    QWidget *viewport = m_connectionListView->viewport();

    m_editRowButton = new QPushButton(viewport);
    m_editRowButton->setObjectName(QStringLiteral("EditConnectionButton"));
    m_editRowButton->setFlat(true);
    m_editRowButton->setIcon(QIcon(QStringLiteral(":/images/resources/edit-blue.svg")));
    m_editRowButton->setProperty("myFlat", true);
    m_editRowButton->setToolTip(tr("Edit the connection."));
    m_editRowButton->hide();

    m_removeRowButton = new QPushButton(viewport);
    m_removeRowButton->setObjectName(QStringLiteral("RemoveConnectionButton"));
    m_removeRowButton->setFlat(true);
    m_removeRowButton->setIcon(QIcon(QStringLiteral(":/images/resources/close-round-white.svg")));
    m_removeRowButton->setProperty("myAction", true);
    m_removeRowButton->setToolTip(tr("Remove the connection."));
    m_removeRowButton->hide();
}

QString ConnectionListWidget::windowKey(const QUuid &uid, const QString &purpose)
{
    return uid.toString() + QLatin1Char('-') + purpose;
}

void ConnectionListWidget::registerWindow(QWidget *window)
{
    if (!window || m_windows.contains(window->objectName()))
        return;
    m_windows.insert(window->objectName(), window);
    connect(window, &QObject::destroyed, this, &ConnectionListWidget::removeWidget);
}

bool ConnectionListWidget::raiseWindow(const QString &key)
{
    QWidget *window = m_windows.value(key);
    if (!window)
        return false;
    bringForward(window);
    return true;
}

void ConnectionListWidget::removeWidget(QObject *window)
{
    // By identity rather than by name: the name may have changed since it was registered.
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        if (static_cast<QObject *>(it.value()) == window)
            it = m_windows.erase(it);
        else
            ++it;
    }
}

void ConnectionListWidget::loadConnections()
{
    const LoadedConnections loaded = loadConnectionFolders(m_globalFolder, m_userFolder);
    m_model->setConnections(loaded.connections);
    resortView();
    m_files = loaded.files;
}

void ConnectionListWidget::addConnection(const Connection &connection, bool global)
{
    const QString folder = global ? m_globalFolder : m_userFolder;
    const QString path = connectionFilePath(folder, connection.uid());

    QString error;
    if (!saveConnection(path, connection, error)) {
        showErrorBox(tr("Failed to add the connection."), error);
        return;
    }

    m_files.insert(connection.uid(), path);
    const QModelIndex index = m_model->addConnection(connection);
    resortView();
    showRow(index);
    openConnection(connection);
}

void ConnectionListWidget::editConnection(const Connection &connection)
{
    const QString path = m_files.value(connection.uid());

    QString error;
    if (!saveConnection(path, connection, error)) {
        showErrorBox(tr("Failed to edit the connection \"%1\".").arg(connection.name()), error);
        return;
    }

    const QModelIndex index = m_model->updateConnection(connection);
    resortView();
    showRow(index);
    on_ConnectionListView_selectionChanged();
}

void ConnectionListWidget::removeConnection(const Connection &connection)
{
    const QString path = m_files.value(connection.uid());

    QString error;
    if (!removeConnectionFile(path, error)) {
        showErrorBox(tr("Failed to remove the connection \"%1\".").arg(connection.name()), error);
        return;
    }

    m_model->removeConnection(connection.uid());
    if (QWidget *editor = m_windows.value(windowKey(connection.uid(), QStringLiteral("editing"))))
        editor->close();
    on_ConnectionListView_selectionChanged();
}

void ConnectionListWidget::openConnection(const Connection &connection)
{
    // The pieces of a link end together: when the SSH client ends, the device deletes
    // itself with the JSON-RPC client and the askpass relay, and the Sessions window
    // goes too; closing the Sessions window (or aborting the status dialog) closes the
    // device; the first answer of the server program removes the status dialog.
    auto *device = new SshDevice;
    connect(device, &SshDevice::finished, device, &QObject::deleteLater);
    auto *client = new JsonRpcHandler(device, device);
    connect(device, &SshDevice::finished, device, [device, client] { reportLinkFailure(device, client); });
    QLocalServer *askpassServer = createAskpassServer(device);

    auto *window = new SessionListWidget(client);
    connect(device, &SshDevice::finished, window, &QObject::deleteLater);
    connect(device, &SshDevice::connected, window, &SessionListWidget::startUpdating);
    window->setObjectName(windowKey(connection.uid(), QStringLiteral("SessionListWidget")));
    window->setWindowTitle(tr("%1 (%2)").arg(connection.name(), connection.host()));

    auto *statusDialog = new OperationStatusDialog(window);
    connect(askpassServer, &QLocalServer::newConnection, statusDialog,
            &OperationStatusDialog::handleNewAskpassConnections);
    connect(window, &SessionListWidget::gotVersion, statusDialog, &QObject::deleteLater);
    connect(statusDialog, &QDialog::rejected, window, &QWidget::close);

    const QString command = connection.sci().isEmpty() ? QStringLiteral("nuvek2_sci") : connection.sci();
    device->connectTo(connection.host(), connection.port(), connection.user(), command, connection.fips(),
                      askpassServer->fullServerName());

    window->show();
    window->activateWindow();
    registerWindow(window);
    statusDialog->open();
}

void ConnectionListWidget::resortView()
{
    m_proxy->sort(m_proxy->sortColumn(), m_proxy->sortOrder());
    m_connectionListView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_connectionListView->resizeRowsToContents();
    m_connectionListView->resizeColumnsToContents();
}

void ConnectionListWidget::showRow(const QModelIndex &sourceIndex)
{
    const QModelIndex index = m_proxy->mapFromSource(sourceIndex);
    if (!index.isValid())
        return;
    m_connectionListView->setCurrentIndex(index);
    m_connectionListView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

Connection ConnectionListWidget::selectedConnection() const
{
    const QModelIndexList selected = m_connectionListView->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return Connection();
    return m_model->connection(m_proxy->mapToSource(selected.first()));
}

bool ConnectionListWidget::isReadOnly(const Connection &connection) const
{
    if (m_globalWritable || m_globalFolder.isEmpty())
        return false;
    // Profile files sit directly in their folder; comparing the folder itself keeps a
    // user folder whose path merely begins like the global one from counting as global.
    const QString path = m_files.value(connection.uid());
    return !path.isEmpty()
        && QFileInfo(path).absolutePath() == QDir::cleanPath(QFileInfo(m_globalFolder).absoluteFilePath());
}

void ConnectionListWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    on_ConnectionListView_selectionChanged();
}

void ConnectionListWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Closing may destroy windows and so shrink the registry: work on a copy.
    const QList<QPointer<QWidget>> windows = [this] {
        QList<QPointer<QWidget>> list;
        for (QWidget *window : qAsConst(m_windows))
            list << window;
        return list;
    }();
    for (const QPointer<QWidget> &window : windows) {
        if (window && window->property(closeWithMonitor).toBool())
            window->close();
    }
    QSettings().setValue(QLatin1String(geometryKey), saveGeometry());
}

void ConnectionListWidget::on_AboutAction_triggered()
{
    auto *dialog = new AboutDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void ConnectionListWidget::on_DocumentationAction_triggered()
{
    const QString address = QStringLiteral("%1/dovrakb/category/%2")
                                .arg(QLatin1String(makerSite), QStringLiteral("nuvek"));
    QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
}

void ConnectionListWidget::on_AddConnectionButton_clicked()
{
    Connection connection;
    connection.setUid(QUuid::createUuid());

    auto *editor = new ConnectionEditor(connection);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setObjectName(windowKey(connection.uid(), QStringLiteral("editing")));
    editor->setProperty(closeWithMonitor, true);
    editor->setWindowTitle(tr("New Connection"));
    if (m_globalWritable && !m_globalFolder.isEmpty())
        editor->addSaveAsGlobalButton();

    connect(editor, &QDialog::accepted, this,
            [this, editor] { addConnection(editor->connection(), editor->isGlobal()); });
    editor->show();
    editor->activateWindow();
    registerWindow(editor);
}

void ConnectionListWidget::on_JoinSessionButton_clicked()
{
    auto *dialog = new JoinSessionDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [dialog] {
        joinSharedSession(dialog->sharingKey(), dialog->viewerName(), dialog->fips());
    });
    dialog->open();
}

void ConnectionListWidget::on_EditConnectionButton_clicked()
{
    const Connection connection = selectedConnection();
    if (!connection.isValid() || isReadOnly(connection))
        return;

    const QString key = windowKey(connection.uid(), QStringLiteral("editing"));
    if (raiseWindow(key))
        return;

    auto *editor = new ConnectionEditor(connection);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    editor->setObjectName(key);
    editor->setProperty(closeWithMonitor, true);
    editor->setWindowTitle(connection.name());

    connect(editor, &QDialog::accepted, this, [this, editor] { editConnection(editor->connection()); });
    editor->show();
    editor->activateWindow();
    registerWindow(editor);
}

void ConnectionListWidget::on_RemoveConnectionButton_clicked()
{
    const Connection connection = selectedConnection();
    if (!connection.isValid() || isReadOnly(connection))
        return;

    auto *dialog = new QuestionDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setQuestion(tr("Remove connection \"%1\"?").arg(connection.name()));
    dialog->addAcceptButton(tr("Remove"));
    dialog->addRejectButton(tr("Keep"));
    connect(dialog, &QDialog::accepted, this, [this, connection] { removeConnection(connection); });
    dialog->open();
}

void ConnectionListWidget::on_ConnectionListView_activated(const QModelIndex &index)
{
    const Connection connection = m_model->connection(m_proxy->mapToSource(index));
    if (connection.isValid()
        && !raiseWindow(windowKey(connection.uid(), QStringLiteral("SessionListWidget"))))
        openConnection(connection);
}

void ConnectionListWidget::on_ConnectionListView_selectionChanged()
{
    const QModelIndexList selected = m_connectionListView->selectionModel()->selectedIndexes();
    const QModelIndex index = selected.isEmpty() ? QModelIndex() : selected.first();
    const Connection connection = m_model->connection(m_proxy->mapToSource(index));
    if (!connection.isValid() || isReadOnly(connection)) {
        m_editRowButton->hide();
        m_removeRowButton->hide();
        return;
    }

    const QRect row = m_connectionListView->visualRect(index);
    const int labelEnd = row.left() + m_connectionListView->sizeHintForIndex(index).width();
    const int side = std::min({row.width() - 8, row.height() - 8, 20});
    if (side <= 0) {
        m_editRowButton->hide();
        m_removeRowButton->hide();
        return;
    }
    const int centre = (row.top() + row.bottom()) / 2;
    const int half = side / 2;

    const QRect edit(QPoint(labelEnd + 4, centre - half), QPoint(labelEnd + 4 + side, centre + half));
    const QRect remove(QPoint(row.right() - 4 - side, centre - half), QPoint(row.right() - 4, centre + half));
    m_editRowButton->setGeometry(edit);
    m_removeRowButton->setGeometry(remove);
    // A button that would cover the label or the other button stays hidden.
    m_editRowButton->setVisible(edit.right() <= remove.left() - 4);
    m_removeRowButton->setVisible(remove.left() >= labelEnd + 4);
}
