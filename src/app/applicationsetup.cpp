#include "app/applicationsetup.h"

#include <QCoreApplication>

namespace {

const char GlIntegration[] = "QT_XCB_GL_INTEGRATION";
bool glIntegrationSetHere = false;

} // namespace

void prepareApplicationSetup()
{
    // Nothing here draws with OpenGL. Without this, Qt's X11 integration loads the GL
    // driver stack anyway, for software rendering some 50 MiB of resident memory.
    if (!qEnvironmentVariableIsSet(GlIntegration)) {
        qputenv(GlIntegration, "none");
        glIntegrationSetHere = true;
    }
    // Widgets and fonts follow the screen's scale factor; the icons are SVG and render at
    // its pixel ratio, pixmaps come in the screen's resolution where they can.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
}

void finishApplicationSetup()
{
    // The X11 integration reads it when it makes its first window, and only then.
    if (glIntegrationSetHere)
        qunsetenv(GlIntegration);
    glIntegrationSetHere = false;
}
