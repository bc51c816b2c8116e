#pragma once

// Settings the client's programs make before their QApplication exists: they follow the
// screen's scale factor, and they leave out Qt's OpenGL integration, which they do not use.
void prepareApplicationSetup();

// Once the first window exists: takes back from the environment what only this process was
// to see, so the programs it starts (a browser for the documentation, say) keep their OpenGL.
void finishApplicationSetup();
