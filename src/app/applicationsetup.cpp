#include "app/applicationsetup.h"

#include <QCoreApplication>

void prepareApplicationSetup()
{
    // Nothing here draws with OpenGL. Without this, Qt's X11 integration loads the GL
    // driver stack anyway, for software rendering some 40 MiB of resident memory.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Widgets and fonts follow the screen's scale factor; the icons are SVG and render at
    // its pixel ratio, pixmaps come in the screen's resolution where they can.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
}
