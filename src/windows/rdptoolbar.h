#pragma once

#include <QWidget>

class QPushButton;
struct RdpContext;

// The small bar that slides in at the top of a session window: disconnect, resize mode,
// fullscreen, options and sharing.
class RdpToolbar : public QWidget
{
    Q_OBJECT

public:
    RdpToolbar(RdpContext *context, QWidget *parent = nullptr);

    bool isResizeChecked() const;
    void setResizeChecked(bool checked);
    void setFullscreenChecked(bool checked);
    void setResizeEnabled(bool enabled);
    void setSharingEnabled(bool enabled);

signals:
    // A button that opens something else was clicked; the window slides the bar out.
    void buttonClicked();

private slots:
    void on_DisconnectButton_clicked();
    void on_FullscreenButton_clicked(bool checked);
    void on_OptionsButton_clicked();
    void on_ResizeButton_clicked(bool checked);
    void on_SharingButton_clicked();

private:
    QPushButton *addButton(const QString &name, const QString &icon, bool checkable,
                           const QString &toolTip);

    RdpContext *context;
    QPushButton *resizeButton;
    QPushButton *fullscreenButton;
    QPushButton *sharingButton;
};
