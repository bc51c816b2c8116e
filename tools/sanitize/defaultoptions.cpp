// Linked into every program of a sanitizer build (NUVEK_SANITIZE), so that
// programs started without the test environment (through sshd, by a session)
// behave like the rest. ASAN_OPTIONS and UBSAN_OPTIONS still override them.
//
// No leak checking: Qt, fontconfig and FreeRDP keep memory until exit on
// purpose. Undefined behaviour stops the program, so a test notices it.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
