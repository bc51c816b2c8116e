#include "app/commandline.h"

#include <cstring>

namespace {

const char Usage[] =
    "Usage: nuvek [--help | --version]\n"
    "\n"
    "Keeps SSH connection profiles for servers and starts, shows and resumes\n"
    "graphical sessions on them. The client takes no arguments of its own: it\n"
    "starts with its Connections window, or brings the running one forward.\n"
    "\n"
    "  -h, --help     show this text and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Qt's own options (-style, -platform, ...) are accepted as usual.\n";

bool is(const char *argument, const char *shortName, const char *longName)
{
    return std::strcmp(argument, shortName) == 0 || std::strcmp(argument, longName) == 0;
}

} // namespace

namespace CommandLine {

int handleInfoOptions(int argc, char **argv, std::FILE *out)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (is(argv[i], "-h", "--help")) {
            std::fputs(Usage, out);
            return 0;
        }
        if (is(argv[i], "-v", "--version")) {
            std::fprintf(out, "nuvek %s\n", NUVEK_VERSION);
            return 0;
        }
    }
    return -1;
}

int rejectRemaining(int argc, char **argv, std::FILE *err)
{
    if (argc < 2)
        return -1;
    const bool option = argv[1][0] == '-';
    std::fprintf(err, "nuvek: %s '%s'\nTry 'nuvek --help' for more information.\n",
                 option ? "unknown option" : "unexpected argument", argv[1]);
    return 2;
}

} // namespace CommandLine
