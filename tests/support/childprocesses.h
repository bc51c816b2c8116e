#pragma once

#include <QByteArray>
#include <QStringList>

// The process ids of this process's living (not zombie) children whose program is `program`
// (the name the kernel shows in /proc/<pid>/stat).
QStringList childProcessIds(const QByteArray &program);
