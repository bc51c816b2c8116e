#pragma once

#include <QMenu>

class QAction;
class QSystemTrayIcon;
struct RdpContext;

// What a desktop session offers in its toolbar, for a rootless session, which has no window of
// its own: "Settings" (the options dialog) and "Disconnect". One menu per session, shown from a
// tray icon of the session where the desktop has a tray; its entries also work as keyboard
// shortcuts in every window of the session (attachTo).
class RdpRailSessionMenu : public QMenu
{
    Q_OBJECT

public:
    RdpRailSessionMenu(RdpContext *context, const QString &title);
    ~RdpRailSessionMenu() override;

    // Greys "Settings" (the server has no options channel).
    void setSettingsEnabled(bool enabled);
    // Makes the entries' shortcuts work while the window is active.
    void attachTo(QWidget *window);
    // Offers the menu from a tray icon of the session, where the desktop has a tray.
    void showTrayIcon();

private slots:
    void on_SettingsAction_triggered();
    void on_DisconnectAction_triggered();

private:
    RdpContext *context;
    QAction *settingsAction;
    QAction *disconnectAction;
    QString sessionTitle;
    QSystemTrayIcon *trayIcon = nullptr;
};
