#include "windows/rdprailsessionmenu.h"

#include "rdp/rdpcontext.h"
#include "rdp/rdpinstance.h"
#include "windows/rdpoptionsdialog.h"

#include <QAction>
#include <QApplication>
#include <QSystemTrayIcon>

RdpRailSessionMenu::RdpRailSessionMenu(RdpContext *context, const QString &title)
    : context(context), sessionTitle(title)
{
    setObjectName(QStringLiteral("RailSessionMenu"));
    setTitle(title);
    // Shortcuts that remote programs hardly use; the menu shows them beside the entries.
    settingsAction = addAction(QCoreApplication::translate("RdpRailWidget", "Settings"));
    settingsAction->setObjectName(QStringLiteral("SettingsAction"));
    settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_S));
    addSeparator();
    disconnectAction = addAction(QCoreApplication::translate("RdpRailWidget", "Disconnect"));
    disconnectAction->setObjectName(QStringLiteral("DisconnectAction"));
    disconnectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_D));
    for (QAction *action : {settingsAction, disconnectAction}) {
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
    }
    QMetaObject::connectSlotsByName(this);
}

void RdpRailSessionMenu::showTrayIcon()
{
    if (trayIcon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon(QStringLiteral(":/images/resources/Nuvek.svg"));
    trayIcon = new QSystemTrayIcon(icon);
    trayIcon->setToolTip(sessionTitle);
    trayIcon->setContextMenu(this);
    trayIcon->show();
}

RdpRailSessionMenu::~RdpRailSessionMenu()
{
    delete trayIcon;
}

void RdpRailSessionMenu::setSettingsEnabled(bool enabled)
{
    settingsAction->setEnabled(enabled);
}

void RdpRailSessionMenu::attachTo(QWidget *window)
{
    window->addAction(settingsAction);
    window->addAction(disconnectAction);
}

void RdpRailSessionMenu::on_SettingsAction_triggered()
{
    if (context->optionsDialog)
        context->optionsDialog->open();
}

void RdpRailSessionMenu::on_DisconnectAction_triggered()
{
    if (context->instance)
        QMetaObject::invokeMethod(context->instance, "quit", Qt::QueuedConnection);
}
