#ifndef NUVEK_RDP_LOGINCHECK_H
#define NUVEK_RDP_LOGINCHECK_H

#include <string>

// The session's one password, read from a file only the user can read. Any
// user name logs in with it; the comparison takes the same time whatever
// the guess.
class LoginCheck
{
public:
    // Reads the file; one trailing line end is dropped. Fails on an
    // unreadable or empty file.
    bool load(const std::string &path, std::string &error);

    bool accepts(const char *password) const;

    // Whether guess is secret, in the same time whatever the guess. An
    // empty secret matches nothing.
    static bool matches(const std::string &secret, const char *guess);

private:
    std::string m_password;
};

#endif // NUVEK_RDP_LOGINCHECK_H
