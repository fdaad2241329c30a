#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void fatal(const char *message)
{
    std::fputs("padcols: ", stderr);
    std::fputs(message, stderr);
    std::fputs("\n", stderr);
    std::exit(1);
}
