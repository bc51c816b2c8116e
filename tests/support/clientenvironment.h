#pragma once

#include <QString>

// Sets up this process like the client for tests that run the real link: the application's
// names, settings kept as INI files under settingsPath, NUVEK_BIN_DIR pointing at this build's
// helper programs, and no SSH_ASKPASS of the caller's (SshDevice then hands plink our own).
void prepareClientEnvironment(const QString &settingsPath);
