#pragma once

#include <QString>

// Folder that holds nuvek, plink, askpass and the server program of this build.
inline QString nuvekBinDir() { return QStringLiteral(NUVEK_BIN_DIR); }
