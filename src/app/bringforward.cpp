#include "app/bringforward.h"

#include <QWidget>

void bringForward(QWidget *window)
{
    if (!window)
        return;
    if (!window->isVisible()) {
        window->show();
        window->activateWindow();
    } else if (!window->isMinimized()) {
        window->raise();
        window->activateWindow();
    } else {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
}
