#pragma once

#include <QString>
#include <QStringList>

class SshdFixture;

// Ends every session the reference server keeps in `sessionsFolder` (for any host), by running the
// server program on the test account's PATH with one "Nuvek.terminate" per session.
// Returns the ids it asked to end.
QStringList terminateServerSessions(const SshdFixture &sshd, const QString &sessionsFolder);
