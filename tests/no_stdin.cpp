// Test helper for the Windows build: runs the command line that follows its
// own name in a process that has no standard input handle at all, as when a
// program is started without one, passing on its own standard output and
// standard error. Exits with the child's exit status.

#include <windows.h>

#include <string>

int main()
{
    // Skip our own name, quoted or not, and the blanks after it.
    const char *rest = GetCommandLineA();
    if (*rest == '"') {
        for (++rest; *rest && *rest != '"'; ++rest) {
        }
        if (*rest)
            ++rest;
    } else {
        while (*rest && *rest != ' ' && *rest != '\t')
            ++rest;
    }
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    std::string command(rest);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return 125;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}
