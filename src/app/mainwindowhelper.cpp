#include "app/mainwindowhelper.h"

#include "app/bringforward.h"

MainWindowHelper::MainWindowHelper(QWidget *window) : m_window(window)
{
}

void MainWindowHelper::activate()
{
    bringForward(m_window);
}
