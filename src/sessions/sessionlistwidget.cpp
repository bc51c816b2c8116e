#include "sessions/sessionlistwidget.h"

#include "app/closehelper.h"
#include "app/cookie.h"
#include "app/errorbox.h"
#include "app/logdialog.h"
#include "app/windowstyle.h"
#include "link/jsonrpchandler.h"
#include "link/questiondialog.h"
#include "link/sshdevice.h"
#include "rdp/rdpinstance.h"
#include "sessions/bookmarkdialog.h"
#include "sessions/mindelegate.h"
#include "sessions/servermethods.h"
#include "sessions/sessionmodel.h"
#include "sessions/startsessiondialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
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
#include <QTableView>

namespace {

// The two columns the row buttons are drawn over, and the room they keep free.
constexpr int ConnectColumn = 1;
constexpr int TerminateColumn = 5;
constexpr int ConnectColumnWidth = 53;
constexpr int TerminateColumnWidth = 29;

// The exit code of a session connection that could not reach its session.
constexpr int RdpConnectFailed = 131;

// A 21 by 21 square whose left edge is `left`, centred on the cell rectangle `cell`.
QRect rowButtonRect(const QRect &cell, int left)
{
    const int middle = (cell.top() + cell.bottom()) / 2;
    return QRect(QPoint(left, middle - 10), QPoint(left + 20, middle + 10));
}

} // namespace

SessionListWidget::SessionListWidget(JsonRpcHandler *handler, QWidget *parent)
    : QWidget(parent)
    , m_pendingCalls(handler)
{
    setupUi();

    m_model = new SessionModel(handler, this);
    m_model->setObjectName(QStringLiteral("SessionListModel"));
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setObjectName(QStringLiteral("SessionListProxy"));
    // Rows are re-sorted after each poll only (see on_SessionListModel_sessionsUpdated).
    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSortLocaleAware(true);
    m_proxy->setSortRole(SessionModel::SortRole);
    m_proxy->setSourceModel(m_model);

    m_sessionListView->setItemDelegateForColumn(ConnectColumn,
                                                new MinDelegate(ConnectColumnWidth, m_sessionListView));
    m_sessionListView->setItemDelegateForColumn(TerminateColumn,
                                                new MinDelegate(TerminateColumnWidth, m_sessionListView));
    m_sessionListView->setModel(m_proxy);
    m_sessionListView->sortByColumn(SessionModel::StartedColumn, Qt::AscendingOrder);
    setHeaderResizeModes();

    connect(m_sessionListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &SessionListWidget::on_SessionListView_selectionChanged);
    connect(m_sessionListView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &SessionListWidget::on_SessionListView_sortIndicatorChanged);
    m_sessionListView->horizontalHeader()->viewport()->installEventFilter(this);

    m_connectButton = addRowButton("ConnectSessionButton", ":/images/resources/play-white.svg", "myAction");
    m_disconnectButton =
        addRowButton("DisconnectSessionButton", ":/images/resources/pause-white.svg", "myAction");
    m_editButton = addRowButton("EditSessionButton", ":/images/resources/edit-blue.svg", "myFlat");
    m_terminateButton =
        addRowButton("TerminateSessionButton", ":/images/resources/close-round-white.svg", "myAction");

    setTabOrder(m_newSessionButton, m_editButton);
    setTabOrder(m_editButton, m_connectButton);
    setTabOrder(m_connectButton, m_disconnectButton);
    setTabOrder(m_disconnectButton, m_terminateButton);
    setTabOrder(m_terminateButton, m_sessionListView);
    setTabOrder(m_sessionListView, m_bookmarkButton);
    setTabOrder(m_bookmarkButton, m_logButton);

    // Also wires the model's sessionsUpdated and the row buttons.
    QMetaObject::connectSlotsByName(this);
}

SessionListWidget::~SessionListWidget() = default;

void SessionListWidget::setupUi()
{
    setObjectName(QStringLiteral("SessionListWidget"));
    resize(700, 300);
    setStyleSheet(listWindowStyleSheet());

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setSpacing(0);
    gridLayout->setContentsMargins(0, 0, 0, 0);

    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(3, 3, 3, 3);
    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_bookmarkButton = makeFlatButton(this, "BookmarkButton", ":/images/resources/ios-bookmarks-outline.svg",
                                      tr("Manage bookmarks and history."));
    horizontalLayout->addWidget(m_bookmarkButton);
    m_logButton = makeFlatButton(this, "LogButton", ":/images/resources/ios-paper-outline.svg",
                                 tr("Show the SSH log."));
    horizontalLayout->addWidget(m_logButton);
    horizontalLayout->addItem(new QSpacerItem(6, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    m_newSessionButton = makeFlatButton(this, "NewSessionButton", ":/images/resources/plus-round.svg",
                                        tr("Start a new session."));
    horizontalLayout->addWidget(m_newSessionButton);
    gridLayout->addLayout(horizontalLayout, 0, 0);

    m_sessionListView = new QTableView(this);
    m_sessionListView->setObjectName(QStringLiteral("SessionListView"));
    // Renaming starts from the edit button only.
    m_sessionListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sessionListView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sessionListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_sessionListView->setSortingEnabled(true);
    m_sessionListView->verticalHeader()->setVisible(false);
    gridLayout->addWidget(m_sessionListView, 1, 0);
}

QPushButton *SessionListWidget::addRowButton(const char *objectName, const char *icon,
                                             const char *property)
{
    auto *button = new QPushButton(m_sessionListView->viewport());
    button->setObjectName(QLatin1String(objectName));
    button->setIcon(QIcon(QLatin1String(icon)));
    button->setFlat(true);
    button->setProperty(property, true);
    button->hide();
    return button;
}

void SessionListWidget::setHeaderResizeModes()
{
    QHeaderView *header = m_sessionListView->horizontalHeader();
    header->setSectionResizeMode(SessionModel::NameColumn, QHeaderView::Stretch);
    for (int column = 1; column < SessionModel::ColumnCount; ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

QMessageBox *SessionListWidget::reportRdpFinished(int exitCode)
{
    if (exitCode == 0 || exitCode == 1)
        return nullptr;
    if (exitCode == RdpConnectFailed)
        return showErrorBox(tr("There was a problem connecting to the session."),
                            tr("Make sure it is still running and that SSH tunneling is enabled."));
    return showErrorBox(tr("Oops! We are not sure what happened here."),
                        tr("Please contact %1 support if this happens again.")
                            .arg(QCoreApplication::organizationName()));
}

void SessionListWidget::startUpdating()
{
    // The link authenticates once; a second call must not ask again.
    if (!m_versionAsked && m_pendingCalls.handler()) {
        m_versionAsked = true;
        m_pendingCalls.call(QLatin1String(ServerMethod::Version), QJsonObject(),
                            [this](const QString &, const QJsonValue &, const QJsonValue &) {
                                emit gotVersion();
                            });
    }
    m_model->startUpdating();
}

int SessionListWidget::selectedRow() const
{
    const QModelIndexList selected = m_sessionListView->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return -1;
    return m_proxy->mapToSource(selected.first()).row();
}

void SessionListWidget::on_BookmarkButton_clicked()
{
    auto *dialog = new BookmarkDialog(m_pendingCalls.handler(), this);
    // A dialog left behind would go on polling the server.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->startUpdating();
    dialog->open();
}

void SessionListWidget::on_ConnectSessionButton_clicked()
{
    const Session session = m_model->session(selectedRow());
    if (session.id.isEmpty() || session.clients != 0)
        return;
    connectSession(session.id, session.displayName());
}

void SessionListWidget::on_DisconnectSessionButton_clicked()
{
    const Session session = m_model->session(selectedRow());
    if (session.id.isEmpty() || session.clients <= 0)
        return;
    disconnectSession(session.id);
}

void SessionListWidget::on_EditSessionButton_clicked()
{
    const QModelIndexList selected = m_sessionListView->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    m_sessionListView->edit(selected.first().siblingAtColumn(SessionModel::NameColumn));
}

void SessionListWidget::on_LogButton_clicked()
{
    auto *dialog = new LogDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Connection Log"));
    JsonRpcHandler *handler = m_pendingCalls.handler();
    if (auto *device = qobject_cast<SshDevice *>(handler ? handler->device() : nullptr)) {
        // One entry per line; the last entry of a finished link may hold several.
        for (const QString &entry : device->log())
            dialog->append(entry.endsWith(QLatin1Char('\n')) ? entry : entry + QLatin1Char('\n'));
    }
    dialog->open();
}

void SessionListWidget::on_NewSessionButton_clicked()
{
    auto *dialog = new StartSessionDialog(m_pendingCalls.handler(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog]() {
        startSession(dialog->sessionCommand(), dialog->sessionGeometry(), dialog->sessionName());
    });
    dialog->open();
}

void SessionListWidget::on_TerminateSessionButton_clicked()
{
    const Session session = m_model->session(selectedRow());
    if (session.id.isEmpty())
        return;
    auto *dialog = new QuestionDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setQuestion(tr("Terminate \"%1\"?").arg(session.displayName()));
    dialog->addAcceptButton(tr("Terminate"));
    dialog->addRejectButton(tr("Keep"));
    const QString id = session.id;
    connect(dialog, &QDialog::accepted, this, [this, id]() { terminateSession(id); });
    dialog->open();
}

void SessionListWidget::on_SessionListModel_sessionsUpdated()
{
    // Dynamic sorting is off: this is the one place rows are put in order again.
    const QHeaderView *header = m_sessionListView->horizontalHeader();
    m_proxy->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
    setHeaderResizeModes();
    updateActionButtons();
}

void SessionListWidget::on_SessionListView_activated(const QModelIndex &index)
{
    const Session session = m_model->session(m_proxy->mapToSource(index).row());
    if (session.id.isEmpty() || session.clients != 0)
        return;
    connectSession(session.id, session.displayName());
}

void SessionListWidget::on_SessionListView_selectionChanged()
{
    updateActionButtons();
}

void SessionListWidget::on_SessionListView_sortIndicatorChanged()
{
    updateActionButtons();
}

void SessionListWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateActionButtons();
}

bool SessionListWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_sessionListView->horizontalHeader()->viewport()
        && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)) {
        // The button columns cannot be clicked to sort.
        const int section = m_sessionListView->horizontalHeader()->logicalIndexAt(
            static_cast<QMouseEvent *>(event)->pos());
        if (section == ConnectColumn || section == TerminateColumn)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SessionListWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Ends the link; the window goes when the link reports that it has finished.
    JsonRpcHandler *handler = m_pendingCalls.handler();
    if (handler && handler->device())
        handler->device()->close();
}

void SessionListWidget::updateActionButtons()
{
    const QModelIndexList selected = m_sessionListView->selectionModel()->selectedIndexes();
    const Session session =
        m_model->session(selected.isEmpty() ? -1 : m_proxy->mapToSource(selected.first()).row());
    if (session.id.isEmpty()) {
        m_editButton->hide();
        m_connectButton->hide();
        m_disconnectButton->hide();
        m_terminateButton->hide();
        return;
    }

    const QModelIndex nameIndex = selected.first().siblingAtColumn(SessionModel::NameColumn);
    const QRect r0 = m_sessionListView->visualRect(nameIndex);
    const QRect r1 = m_sessionListView->visualRect(selected.first().siblingAtColumn(ConnectColumn));
    const QRect r5 = m_sessionListView->visualRect(selected.first().siblingAtColumn(TerminateColumn));
    const int textWidth = m_sessionListView->sizeHintForIndex(nameIndex).width();

    // Just after the name text, unless that would reach into the next column.
    const int editLeft = r0.left() + textWidth + 4;
    m_editButton->setGeometry(rowButtonRect(r0, editLeft));
    m_editButton->setEnabled(true);
    m_editButton->setVisible(editLeft + 20 <= r0.right() - 4);

    m_connectButton->setGeometry(rowButtonRect(r1, r1.left() + 4));
    m_connectButton->setEnabled(session.clients == 0);
    m_connectButton->show();

    m_disconnectButton->setGeometry(rowButtonRect(r1, r1.left() + 28));
    m_disconnectButton->setEnabled(session.clients >= 1);
    m_disconnectButton->show();

    m_terminateButton->setGeometry(rowButtonRect(r5, r5.left() + 4));
    m_terminateButton->setEnabled(true);
    m_terminateButton->show();
}

void SessionListWidget::connectSession(const QString &id, const QString &title)
{
    m_pendingCalls.call(QLatin1String(ServerMethod::Connect), sessionParams(id),
                        [this, id, title](const QString &, const QJsonValue &result, const QJsonValue &error) {
                            onConnectReply(result, error, id, title);
                        });
}

void SessionListWidget::disconnectSession(const QString &id)
{
    m_pendingCalls.call(QLatin1String(ServerMethod::Disconnect), sessionParams(id),
                        [this](const QString &, const QJsonValue &result, const QJsonValue &error) {
                            onChangeReply(result, error, tr("Failed to disconnect the session."));
                        });
}

void SessionListWidget::terminateSession(const QString &id)
{
    m_pendingCalls.call(QLatin1String(ServerMethod::Terminate), sessionParams(id),
                        [this](const QString &, const QJsonValue &result, const QJsonValue &error) {
                            onChangeReply(result, error, tr("Failed to terminate the session."));
                        });
}

void SessionListWidget::startSession(const QString &command, const QString &geometry,
                                     const QString &name)
{
    if (!m_pendingCalls.handler())
        return;
    QString id, error;
    // Without an id of its own the session could not be told apart on the server.
    if (!generateCookie(id, error)) {
        showErrorBox(tr("Failed to start the session."), error);
        return;
    }
    const QString title = Session::sessionDisplayName(name, command);
    m_pendingCalls.call(QLatin1String(ServerMethod::Start), startParams(id, command, geometry, name),
                        [this, id, title](const QString &, const QJsonValue &result, const QJsonValue &error) {
                            onStartReply(result, error, id, title);
                        });
}

void SessionListWidget::onConnectReply(const QJsonValue &result, const QJsonValue &error,
                                       const QString &sessionId, const QString &title)
{
    if (checkReply(result, error, QJsonValue::Object, tr("Failed to connect to the session.")))
        openSession(result, sessionId, title);
}

void SessionListWidget::onStartReply(const QJsonValue &result, const QJsonValue &error,
                                     const QString &sessionId, const QString &title)
{
    if (result.isObject())
        openSession(result, sessionId, title);
    else
        reportStartFailure(m_pendingCalls.handler(), error, tr("Failed to start the session."));
}

void SessionListWidget::onChangeReply(const QJsonValue &result, const QJsonValue &error,
                                      const QString &failure)
{
    if (checkReply(result, error, QJsonValue::Object, failure))
        m_model->forceUpdate();
}

void SessionListWidget::openSession(const QJsonValue &result, const QString &sessionId,
                                    const QString &title)
{
    const ConnectReply reply = ConnectReply::fromResult(result.toObject());
    JsonRpcHandler *handler = m_pendingCalls.handler();
    auto *device = qobject_cast<SshDevice *>(handler ? handler->device() : nullptr);
    if (!device)
        return;
    startRdpInstance(device, reply, sessionId, title);
}

void SessionListWidget::startRdpInstance(SshDevice *device, const ConnectReply &reply,
                                         const QString &sessionId, const QString &title)
{
    // The connection lives on its own: the CloseHelper keeps the application running while
    // it does, and it deletes itself when it ends (after its end has been reported).
    auto *rdp = new RdpInstance;
    connect(rdp, &RdpInstance::finished, rdp, &QObject::deleteLater);
    connect(rdp, &RdpInstance::finished, rdp, [rdp]() { reportRdpFinished(rdp->exitCode()); });
    CloseHelper::instance()->addObject(rdp);
    connect(rdp, &RdpInstance::connected, m_model, &SessionModel::forceUpdate);
    connect(rdp, &RdpInstance::finished, m_model, &SessionModel::forceUpdate);
    const QVariantMap params{{QStringLiteral("RemoteHost"), device->realHost()},
                             {QStringLiteral("SessionId"), sessionId},
                             {QStringLiteral("SshHost"), device->realHost()},
                             {QStringLiteral("SshPort"), int(device->sshPort())}};
    rdp->connectToSession(device->realHost(), reply.port, device->user(), reply.password,
                          device->tunnelPort(),
                          reply.isRootless() ? QStringLiteral("rootless") : reply.geometry, title,
                          false, params);
}
