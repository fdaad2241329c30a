#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void fatal(const char *message)
{
    // A failure to write to standard error has nowhere to be reported.
    static_cast<void>(std::fputs("padcols: ", stderr));
    static_cast<void>(std::fputs(message, stderr));
    static_cast<void>(std::fputs("\n", stderr));
    std::exit(1);
}
