#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// Brings the Connections window to the user, when the program starts and each
// time another copy of it is started.
class MainWindowHelper : public QObject
{
    Q_OBJECT

public:
    // `window` is not owned.
    explicit MainWindowHelper(QWidget *window);

public slots:
    // Shows the window if hidden, raises it if visible, restores it if minimised.
    void activate();

private:
    QPointer<QWidget> m_window;
};
