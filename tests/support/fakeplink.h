#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A stand-in for the SSH client program: a script named "plink" in a temporary
// folder that SshDevice finds first (through NUVEK_BIN_DIR, set for as long as the
// object lives). Each run prints the chosen text on standard error, writes the chosen
// bytes on standard output, waits a little if asked and ends with the chosen code.
// An "askpass" beside it answers every question by giving up (exit code 1).
class FakePlink
{
public:
    FakePlink();
    ~FakePlink();

    FakePlink(const FakePlink &) = delete;
    FakePlink &operator=(const FakePlink &) = delete;

    bool isValid() const { return m_valid; }
    // What the next run does; an exit code of -1 makes it crash.
    void setRun(const QByteArray &standardError, int exitCode, const QByteArray &standardOutput = QByteArray(),
                int lingerSeconds = 0);
    // The command line of the last run, one argument per entry.
    QStringList lastArguments() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_savedBinDir;
    bool m_hadBinDir = false;
    bool m_valid = false;
};
