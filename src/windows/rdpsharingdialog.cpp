#include "windows/rdpsharingdialog.h"

#include "app/cookie.h"
#include "app/windowstyle.h"
#include "channels/oxshare/oxshare_main.h"
#include "rdp/rdpcontext.h"
#include "sessions/sharingkey.h"
#include "windows/rdpviewermodel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSpacerItem>
#include <QTableView>
#include <QUrl>

#include <algorithm>

namespace {

OxshareClientContext *sharingChannel(const RdpContext *context)
{
    return context ? context->oxshareClient : nullptr;
}

} // namespace

RdpSharingDialog::RdpSharingDialog(RdpContext *context, const QString &sshHost, quint16 sshPort,
                                   QWidget *parent)
    : QDialog(parent)
    , context(context)
    , sshHost(sshHost)
    , sshPort(sshPort)
    , viewerModel(new RdpViewerModel(this))
    , proxyModel(new QSortFilterProxyModel(this))
{
    viewerModel->setObjectName(QStringLiteral("ViewerListModel"));
    proxyModel->setSortRole(RdpViewerModel::NameRole);
    proxyModel->setSortLocaleAware(true);
    proxyModel->setDynamicSortFilter(false);
    proxyModel->setSourceModel(viewerModel);

    buildForm();
    auto *keyMenu = new QMenu(this);
    keyMenu->addAction(emailAction);
    keyMenu->addAction(clipboardAction);
    shareKeyButton->setMenu(keyMenu);

    viewerListView->setModel(proxyModel);
    viewerListView->sortByColumn(0, Qt::AscendingOrder);
    connect(viewerListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RdpSharingDialog::on_ViewerListView_selectionChanged);
    connect(viewerListView->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &RdpSharingDialog::on_ViewerListView_sortIndicatorChanged);
    createActionButtons();
    QMetaObject::connectSlotsByName(this);

    viewerModel->setClientId(clientId);
    setServerStatus(false, QList<RdpViewer>());
}

void RdpSharingDialog::buildForm()
{
    setObjectName(QStringLiteral("RdpSharingDialog"));
    resize(400, 300);
    setStyleSheet(listWindowStyleSheet());

    auto *gridLayout = new QGridLayout(this);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    auto *innerLayout = new QGridLayout();
    innerLayout->setObjectName(QStringLiteral("gridLayout_2"));
    innerLayout->setSpacing(0);

    auto *topLayout = new QHBoxLayout();
    topLayout->setObjectName(QStringLiteral("horizontalLayout"));
    topLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    shareKeyButton = makeFlatButton(this, "ShareKeyButton", ":/images/resources/share.svg");
    shareKeyButton->setToolTip(tr("Share the secret key."));
    topLayout->addWidget(shareKeyButton);
    topLayout->addItem(new QSpacerItem(6, 20, QSizePolicy::Fixed, QSizePolicy::Minimum));
    sharingButton = makeFlatButton(this, "SharingButton", ":/images/resources/power.svg");
    sharingButton->setToolTip(tr("Turn sharing on/off."));
    topLayout->addWidget(sharingButton);
    innerLayout->addLayout(topLayout, 0, 0);

    viewerListView = new QTableView(this);
    viewerListView->setObjectName(QStringLiteral("ViewerListView"));
    viewerListView->setSelectionMode(QAbstractItemView::SingleSelection);
    viewerListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    viewerListView->setShowGrid(false);
    viewerListView->setSortingEnabled(true);
    viewerListView->verticalHeader()->setVisible(false);
    innerLayout->addWidget(viewerListView, 1, 0);
    gridLayout->addLayout(innerLayout, 0, 0);

    auto *buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttonBox->setObjectName(QStringLiteral("ButtonBox"));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    gridLayout->addWidget(buttonBox, 1, 0);

    emailAction = new QAction(tr("Email"), this);
    emailAction->setObjectName(QStringLiteral("EmailAction"));
    emailAction->setToolTip(tr("Email the key."));
    clipboardAction = new QAction(tr("Copy to Clipboard"), this);
    clipboardAction->setObjectName(QStringLiteral("ClipboardAction"));
    clipboardAction->setToolTip(tr("Copy the key to the clipboard."));
}

void RdpSharingDialog::createActionButtons()
{
    QWidget *viewport = viewerListView->viewport();
    const auto make = [viewport](const char *name, const char *icon) {
        auto *button = new QPushButton(viewport);
        button->setObjectName(QLatin1String(name));
        button->setFlat(true);
        button->setProperty("myAction", true);
        button->setIcon(QIcon(QLatin1String(icon)));
        button->hide();
        return button;
    };
    giveControlButton =
        make("GiveControlButton", ":/images/resources/ios-game-controller-b-outline-white.svg");
    kickViewerButton = make("KickViewerButton", ":/images/resources/close-round-white.svg");
    setTabOrder(sharingButton, giveControlButton);
    setTabOrder(giveControlButton, kickViewerButton);
    setTabOrder(kickViewerButton, viewerListView);
}

void RdpSharingDialog::setClientId(quint32 id)
{
    clientId = id;
    viewerModel->setClientId(id);
    setServerStatus(false, QList<RdpViewer>());
}

void RdpSharingDialog::setServerStatus(bool on, const QList<RdpViewer> &viewers)
{
    if (!on)
        key.clear();
    sharingOn = on;
    hasControl = std::any_of(viewers.begin(), viewers.end(), [this](const RdpViewer &viewer) {
        return viewer.id == clientId && viewer.controller;
    });

    sharingButton->setIcon(QIcon(on ? QStringLiteral(":/images/resources/power-red.svg")
                                    : QStringLiteral(":/images/resources/power.svg")));
    sharingButton->setEnabled(clientId == 0);
    // Sharing that an earlier connection turned on has no key here: nothing to hand out.
    shareKeyButton->setEnabled(on && clientId == 0 && !key.isEmpty());
    viewerListView->setEnabled(on);
    viewerModel->setViewers(viewers);
}

void RdpSharingDialog::on_SharingButton_clicked()
{
    OxshareClientContext *channel = sharingChannel(context);
    if (!sharingOn && key.isEmpty()) {
        // A second click before the server answered finds the key set and asks nothing.
        QString password;
        QString error;
        if (!generateCookie(password, error) || password.isEmpty())
            return; // no password, no sharing: never share with an empty one
        if (channel && channel->StartSharing)
            channel->StartSharing(channel, password.toUtf8().constData());
        const quint16 rdpPort = context ? quint16(freerdp_settings_get_uint32(
                                              context->settings(), FreeRDP_ServerPort))
                                        : quint16(0);
        key = SharingKey::make(sshHost, sshPort, rdpPort, password);
    } else if (sharingOn) {
        if (channel && channel->StopSharing)
            channel->StopSharing(channel);
    }
}

void RdpSharingDialog::on_EmailAction_triggered()
{
    // Every part percent-encoded: mail programs read a bare "+" in a mailto body as a blank,
    // which would spoil the key.
    const QString subject = tr("Join %1 Session").arg(QApplication::applicationName());
    const QString body =
        tr("To join the session enter the following key when prompted\n\n%1").arg(key);
    const QByteArray url = "mailto:?subject=" + QUrl::toPercentEncoding(subject)
        + "&body=" + QUrl::toPercentEncoding(body);
    QDesktopServices::openUrl(QUrl::fromEncoded(url, QUrl::TolerantMode));
}

void RdpSharingDialog::on_ClipboardAction_triggered()
{
    QApplication::clipboard()->setText(key);
}

QModelIndex RdpSharingDialog::selectedIndex() const
{
    const QModelIndexList selected = viewerListView->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : selected.first();
}

RdpViewer RdpSharingDialog::selectedViewer() const
{
    const QModelIndex source = proxyModel->mapToSource(selectedIndex());
    return viewerModel->viewerAt(source.isValid() ? source.row() : -1);
}

void RdpSharingDialog::on_GiveControlButton_clicked()
{
    const RdpViewer viewer = selectedViewer();
    OxshareClientContext *channel = sharingChannel(context);
    if (viewer.id != RdpViewerModel::InvalidId && channel && channel->GiveControl)
        channel->GiveControl(channel, viewer.id);
}

void RdpSharingDialog::on_KickViewerButton_clicked()
{
    const RdpViewer viewer = selectedViewer();
    OxshareClientContext *channel = sharingChannel(context);
    if (viewer.id != RdpViewerModel::InvalidId && channel && channel->KickViewer)
        channel->KickViewer(channel, viewer.id);
}

void RdpSharingDialog::on_ViewerListModel_viewersUpdated()
{
    proxyModel->sort(proxyModel->sortColumn(), proxyModel->sortOrder());
    viewerListView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    updateActionButtons();
}

void RdpSharingDialog::on_ViewerListView_activated(const QModelIndex &) {}

void RdpSharingDialog::on_ViewerListView_selectionChanged() { updateActionButtons(); }

void RdpSharingDialog::on_ViewerListView_sortIndicatorChanged() { updateActionButtons(); }

void RdpSharingDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    updateActionButtons();
}

void RdpSharingDialog::updateActionButtons()
{
    giveControlButton->hide();
    kickViewerButton->hide();
    const QModelIndex index = selectedIndex();
    const RdpViewer viewer = selectedViewer();
    if (viewer.id == RdpViewerModel::InvalidId)
        return;

    const QRect row = viewerListView->visualRect(index);
    const int nameEnd = row.left() + viewerListView->sizeHintForIndex(index).width();
    const int side = std::min({20, row.height() - 8, row.width() - 8});
    if (side <= 0)
        return;
    const int half = side / 2;
    const int centre = (row.top() + row.bottom()) / 2;

    const QRect kick(QPoint(row.right() - side - 4, centre - half),
                     QPoint(row.right() - 4, centre + half));
    const QRect give(QPoint(row.right() - 2 * side - 8, centre - half),
                     QPoint(row.right() - side - 8, centre + half));
    kickViewerButton->setGeometry(kick);
    giveControlButton->setGeometry(give);
    giveControlButton->setEnabled(!viewer.controller && (clientId == 0 || hasControl));
    kickViewerButton->setEnabled(clientId == 0 && viewer.id != 0);
    // A button that would cover the name stays hidden.
    giveControlButton->setVisible(give.left() >= nameEnd + 4);
    kickViewerButton->setVisible(kick.left() >= nameEnd + 4);
}
