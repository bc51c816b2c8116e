#pragma once

// Settings the client's programs make before their QApplication exists: they follow the
// screen's scale factor, and they leave out Qt's OpenGL integration, which they do not use.
void prepareApplicationSetup();
