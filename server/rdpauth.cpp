// libnuvek2_rdpauth.so: loaded into the RDP server of a session (LD_PRELOAD), it
// answers the server's login check in place of the system's PAM stack: a login
// succeeds when its password is the session's own, read from the file named by
// NUVEK_RDP_AUTH_FILE. No other program loads it.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

extern "C" {

// The few PAM types and values this needs; their layout is fixed by the PAM ABI.
struct pam_message
{
    int msg_style;
    const char *msg;
};
struct pam_response
{
    char *resp;
    int resp_retcode;
};
struct pam_conv
{
    int (*conv)(int, const struct pam_message **, struct pam_response **, void *);
    void *appdata_ptr;
};
struct pam_handle;
typedef struct pam_handle pam_handle_t;

enum {
    PamSuccess = 0,
    PamSystemError = 4,
    PamAuthError = 7,
    PamPromptEchoOff = 1,
};

__attribute__((visibility("default"))) int pam_start(const char *, const char *, const struct pam_conv *,
                                                     pam_handle_t **);
__attribute__((visibility("default"))) int pam_authenticate(pam_handle_t *, int);
__attribute__((visibility("default"))) int pam_acct_mgmt(pam_handle_t *, int);
__attribute__((visibility("default"))) int pam_end(pam_handle_t *, int);
__attribute__((visibility("default"))) const char *pam_strerror(pam_handle_t *, int);
}

namespace {

struct Handle
{
    pam_conv conv;
    bool authenticated;
};

// The session's password: the whole file, without a trailing line end.
bool readExpected(char *buffer, size_t size, size_t &length)
{
    const char *path = std::getenv("NUVEK_RDP_AUTH_FILE");
    if (!path || !*path)
        return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    length = 0;
    while (length < size) {
        const ssize_t n = ::read(fd, buffer + length, size - length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        length += size_t(n);
    }
    ::close(fd);
    if (length == size)
        return false; // longer than any password we write
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r'))
        --length;
    return length > 0;
}

// Compares without stopping at the first difference.
bool sameSecret(const char *given, const char *expected, size_t expectedLength)
{
    const size_t givenLength = std::strlen(given);
    unsigned char difference = givenLength == expectedLength ? 0 : 1;
    for (size_t i = 0; i < expectedLength; ++i)
        difference |= static_cast<unsigned char>(expected[i] ^ (i < givenLength ? given[i] : 0));
    return difference == 0;
}

} // namespace

int pam_start(const char *, const char *, const struct pam_conv *conv, pam_handle_t **handle)
{
    if (!conv || !handle)
        return PamSystemError;
    Handle *h = static_cast<Handle *>(std::calloc(1, sizeof(Handle)));
    if (!h)
        return PamSystemError;
    h->conv = *conv;
    *handle = reinterpret_cast<pam_handle_t *>(h);
    return PamSuccess;
}

int pam_authenticate(pam_handle_t *handle, int)
{
    Handle *h = reinterpret_cast<Handle *>(handle);
    if (!h || !h->conv.conv)
        return PamSystemError;
    h->authenticated = false;
    pam_message message{PamPromptEchoOff, "Password: "};
    const pam_message *messages[] = {&message};
    pam_response *responses = nullptr;
    if (h->conv.conv(1, messages, &responses, h->conv.appdata_ptr) != PamSuccess || !responses)
        return PamAuthError;
    char expected[512];
    size_t expectedLength = 0;
    const bool haveExpected = readExpected(expected, sizeof expected, expectedLength);
    if (haveExpected && responses[0].resp)
        h->authenticated = sameSecret(responses[0].resp, expected, expectedLength);
    if (responses[0].resp) {
        std::memset(responses[0].resp, 0, std::strlen(responses[0].resp));
        std::free(responses[0].resp);
    }
    std::free(responses);
    std::memset(expected, 0, sizeof expected);
    return h->authenticated ? PamSuccess : PamAuthError;
}

int pam_acct_mgmt(pam_handle_t *handle, int)
{
    const Handle *h = reinterpret_cast<const Handle *>(handle);
    return h && h->authenticated ? PamSuccess : PamAuthError;
}

int pam_end(pam_handle_t *handle, int)
{
    std::free(reinterpret_cast<Handle *>(handle));
    return PamSuccess;
}

const char *pam_strerror(pam_handle_t *, int error)
{
    switch (error) {
    case PamSuccess:
        return "Success";
    case PamAuthError:
        return "Authentication failure";
    default:
        return "System error";
    }
}
