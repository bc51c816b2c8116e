#pragma once

#include <QWidget>

class QLabel;

// The small blue note that slides in at the top right of a session window when viewers join,
// leave or take control.
class RdpSharingNotification : public QWidget
{
    Q_OBJECT

public:
    explicit RdpSharingNotification(QWidget *parent = nullptr);

    // Shows the text and takes the height it needs at the current width (at most 300 pixels).
    void setText(const QString &text);
    QString text() const;

private:
    QLabel *label;
};
