#include "app/closehelper.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

CloseHelper *CloseHelper::instance()
{
    static CloseHelper *helper = new CloseHelper;
    return helper;
}

CloseHelper::CloseHelper()
{
    connect(qApp, &QGuiApplication::lastWindowClosed, this, &CloseHelper::checkForQuit);
    qApp->installEventFilter(this);
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void CloseHelper::addObject(QObject *object)
{
    if (!object)
        return;
    connect(object, &QObject::destroyed, this, &CloseHelper::removeObject);
    m_objects.append(object);
}

void CloseHelper::removeObject(QObject *object)
{
    m_objects.removeAll(object);
    if (m_objects.isEmpty())
        checkForQuit();
}

void CloseHelper::checkForQuit()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window->isVisible() && !window->parentWidget()
            && window->testAttribute(Qt::WA_QuitOnClose)) {
            return;
        }
    }
    if (m_objects.isEmpty())
        QCoreApplication::quit();
}

bool CloseHelper::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::Close) {
        // Deleting one object may delete another registered one (its child, say),
        // so every object is cut off first and deleted only if still alive.
        QList<QPointer<QObject>> objects;
        for (QObject *object : qAsConst(m_objects)) {
            disconnect(object, nullptr, this, nullptr);
            objects.append(object);
        }
        m_objects.clear();
        for (const QPointer<QObject> &object : qAsConst(objects))
            delete object.data();
    }
    return QObject::eventFilter(watched, event);
}
