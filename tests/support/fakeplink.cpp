#include "support/fakeplink.h"
#include "support/testsupport.h"

#include <QFile>

FakePlink::FakePlink()
{
    m_hadBinDir = qEnvironmentVariableIsSet("NUVEK_BIN_DIR");
    m_savedBinDir = qgetenv("NUVEK_BIN_DIR");
    if (!m_dir.isValid())
        return;
    const QString script = m_dir.filePath(QStringLiteral("plink"));
    m_valid = writeFile(script,
                        "#!/bin/sh\n"
                        "dir=$(dirname \"$0\")\n"
                        "printf '%s\\n' \"$@\" > \"$dir/args\"\n"
                        "cat \"$dir/stderr\" >&2\n"
                        "cat \"$dir/stdout\"\n"
                        "[ \"$(cat \"$dir/exitcode\")\" = crash ] && kill -SEGV $$\n"
                        // Ended early, it takes its sleep along.
                        "trap 'kill $pid 2>/dev/null; exit 143' TERM\n"
                        "sleep \"$(cat \"$dir/linger\")\" & pid=$!\n"
                        "wait $pid\n"
                        "exit \"$(cat \"$dir/exitcode\")\"\n")
        && QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A user who cancels every question.
    const QString askpass = m_dir.filePath(QStringLiteral("askpass"));
    m_valid = m_valid && writeFile(askpass, "#!/bin/sh\nexit 1\n")
        && QFile::setPermissions(askpass, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setRun(QByteArray(), 0);
    qputenv("NUVEK_BIN_DIR", QFile::encodeName(m_dir.path()));
}

FakePlink::~FakePlink()
{
    if (m_hadBinDir)
        qputenv("NUVEK_BIN_DIR", m_savedBinDir);
    else
        qunsetenv("NUVEK_BIN_DIR");
}

void FakePlink::setRun(const QByteArray &standardError, int exitCode, const QByteArray &standardOutput,
                       int lingerSeconds)
{
    m_valid = m_valid && writeFile(m_dir.filePath(QStringLiteral("stderr")), standardError)
        && writeFile(m_dir.filePath(QStringLiteral("stdout")), standardOutput)
        && writeFile(m_dir.filePath(QStringLiteral("linger")), QByteArray::number(lingerSeconds))
        && writeFile(m_dir.filePath(QStringLiteral("exitcode")), exitCode < 0 ? "crash" : QByteArray::number(exitCode));
}

QStringList FakePlink::lastArguments() const
{
    QFile file(m_dir.filePath(QStringLiteral("args")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList arguments = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    arguments.removeLast(); // after the last line end
    return arguments;
}
