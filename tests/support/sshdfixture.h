#pragma once

#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;

// A private OpenSSH server on 127.0.0.1 for tests.
//
// Everything lives in one temporary folder: the server's RSA host key, its
// config, pid and log, the authorized keys, a client key pair, a known_hosts
// file that already trusts the host key, a client ssh config, and a "bin"
// folder that is put in front of the test account's PATH. The server runs in
// the foreground as a child of the test (and dies with it); stop() or the
// destructor ends it and removes the folder.
//
// Logins go to a system account (default "nuvektest", password
// SshdFixture::password()), created with useradd/chpasswd when it does not
// exist yet. That needs root; without it isAvailable() says why, and tests
// should QSKIP.
//
// Typical use:
//     SshdFixture sshd;
//     QString why;
//     if (!sshd.isAvailable(&why)) QSKIP(qPrintable(why));
//     sshd.installClientKey();                  // key login
//     sshd.addProgram("echo-server", script);   // on the account's PATH
//     QVERIFY2(sshd.start(&why), qPrintable(why));
//     sshd.applyClientEnvironment();            // our plink trusts the host, uses the key
//     ... connect to sshd.host():sshd.port() as sshd.user() ...
//
// Options take effect at the next start(); restart() applies them to a
// running server.
class SshdFixture
{
public:
    explicit SshdFixture(const QString &user = QStringLiteral("nuvektest"));
    ~SshdFixture();

    SshdFixture(const SshdFixture &) = delete;
    SshdFixture &operator=(const SshdFixture &) = delete;

    // True when a server can be run here (root, sshd installed, account usable).
    // Creates the account and the temporary folder on first use.
    bool isAvailable(QString *why = nullptr);

    // --- options (before start) --------------------------------------------
    void setPasswordAuthentication(bool on);   // default on
    void setPublicKeyAuthentication(bool on);  // default on
    void setMaxAuthTries(int tries);           // default 3
    // Runs this command for every login instead of the one the client asks for
    // (sshd's ForceCommand); empty = the client's command.
    void setForceCommand(const QString &command);
    // Any further sshd_config line, appended as it is.
    void addConfigLine(const QString &line);

    // Makes an executable `name` in the fixture's bin folder, which comes first
    // on the test account's PATH. `content` is the whole file (start it with
    // "#!/bin/sh" or "#!/usr/bin/env python3"). Returns its full path.
    QString addProgram(const QString &name, const QByteArray &content);

    // Generates the client key pair (once) and authorizes its public key.
    // An optional passphrase protects the private key.
    bool installClientKey(const QString &passphrase = QString());
    // Withdraws the client key's authorization (takes effect at once).
    void removeClientKey();

    // --- running -------------------------------------------------------------
    bool start(QString *error = nullptr);
    bool restart(QString *error = nullptr);
    void stop();
    bool isRunning() const;

    // --- facts ---------------------------------------------------------------
    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString user() const { return m_user; }
    static QString password();
    QString tempPath() const;       // the fixture's folder
    QString binPath() const;        // the folder on the account's PATH
    QString clientKeyPath() const;  // private key (after installClientKey)
    QString knownHostsPath() const; // "[127.0.0.1]:port <host key>" (valid after start)
    QString clientConfigPath() const; // ssh_config for the client (key, no agent)
    QString serverLog() const;      // the server's log so far

    // Environment for our plink so that it trusts this server's host key
    // (NUVEK_KNOWN_HOSTS) and logs in with the fixture's key (NUVEK_SSH_CONFIG).
    QProcessEnvironment clientEnvironment(
        const QProcessEnvironment &base = QProcessEnvironment::systemEnvironment()) const;
    // The same variables set in this process (what SshDevice passes on to
    // plink); the previous values come back at stop().
    void applyClientEnvironment();

    // A free TCP port on 127.0.0.1 (bound and released at once).
    static quint16 freePort();

private:
    bool prepare(QString *why);
    bool ensureAccount(QString *why);
    bool writeConfig(QString *error);
    bool waitUntilListening(QString *error);
    void restoreEnvironment();

    QString m_user;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_sshd;
    quint16 m_port = 0;
    bool m_prepared = false;
    bool m_passwordAuth = true;
    bool m_pubkeyAuth = true;
    int m_maxAuthTries = 3;
    QString m_forceCommand;
    QStringList m_extraLines;
    bool m_keyAuthorized = false;
    QList<QPair<QByteArray, QByteArray>> m_savedEnv; // variables set before, with their values
    QList<QByteArray> m_unsetEnv;
};
