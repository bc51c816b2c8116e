#include "app/username.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include <vector>

QString loggedOnUserName()
{
    const uid_t uid = geteuid();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> scratch(static_cast<size_t>(size));
    struct passwd entry;
    struct passwd *found = nullptr;
    // getpwuid_r rather than getpwuid: the static result may be shared with other threads.
    while (getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found) == ERANGE
           && scratch.size() < (1u << 20))
        scratch.resize(scratch.size() * 2);
    if (!found || !found->pw_name)
        return QString();
    return QString::fromLocal8Bit(found->pw_name).left(256);
}
