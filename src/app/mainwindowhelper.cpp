#include "app/mainwindowhelper.h"

MainWindowHelper::MainWindowHelper(QWidget *window) : m_window(window)
{
}

void MainWindowHelper::activate()
{
    if (!m_window)
        return;
    if (!m_window->isVisible()) {
        m_window->show();
        m_window->activateWindow();
    } else if (!m_window->isMinimized()) {
        m_window->raise();
        m_window->activateWindow();
    } else {
        m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized)
                                 | Qt::WindowActive);
    }
}
