#pragma once

#include <QList>
#include <QObject>

// Decides when the application quits: not when the last window closes, but when
// no visible main window is left and no registered object (an RDP connection,
// say) is alive any more. One per process, created by the first instance() call
// (after the application object) and never destroyed.
class CloseHelper : public QObject
{
    Q_OBJECT

public:
    static CloseHelper *instance();

    // Keeps the application running until `object` is destroyed. When the
    // application itself is closed, the registered objects are deleted.
    void addObject(QObject *object);

    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    void checkForQuit();

private slots:
    void removeObject(QObject *object);

private:
    CloseHelper();

    QList<QObject *> m_objects;
};
