#include "logincheck.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

bool LoginCheck::load(const std::string &path, std::string &error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the password file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (text.empty()) {
        error = "the password file " + path + " is empty";
        return false;
    }
    m_password = text;
    return true;
}

bool LoginCheck::accepts(const char *password) const
{
    return matches(m_password, password);
}

bool LoginCheck::matches(const std::string &secret, const char *guess)
{
    if (!guess || secret.empty())
        return false;
    const size_t guessLength = std::strlen(guess);
    // Walk the whole secret whatever the guess is, and fold every
    // difference (the length's too) into one value.
    unsigned char difference = guessLength == secret.size() ? 0 : 1;
    for (size_t i = 0; i < secret.size(); ++i) {
        const unsigned char c = i < guessLength ? static_cast<unsigned char>(guess[i]) : 0;
        difference |= c ^ static_cast<unsigned char>(secret[i]);
    }
    return difference == 0;
}
