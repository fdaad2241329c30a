// padcols: copies standard input to standard output with every tab replaced
// by the spaces that reach the next tab stop.

#include "filter/filter_state.h"
#include "command_line.h"
#include "fatal.h"
#include "platform.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
// Linked with -municode: the arguments come straight from the UTF-16 command
// line, not converted to the ANSI code page with best-fit mapping.
int wmain(int argc, wchar_t **argv)
#else
int main(int argc, char **argv)
#endif
{
    usage_if_interactive();
    if (argc >= 2)
        set_tab_stop(argv[1]);

    set_binary_mode();
#ifdef _WIN32
    // The pump writes through fwrite on Windows (everywhere else, and for
    // every read, it goes around stdio). Unbuffered, what each fwrite is
    // given reaches the system before it returns, not when a later block
    // fills the runtime's buffer or at exit, and a failure to write it is
    // seen at that block. Should the stream stay buffered, the output is the
    // same and a write failure is still seen, at the latest when standard
    // output is closed below.
    static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
#endif

    cols_left = tab_stop;
    pump();

    // Close standard output here rather than at exit, where a failure would
    // go unreported. A descriptor that was never open (EBADF) lost nothing:
    // any write to it would already have failed.
    errno = 0;
    if (std::fclose(stdout) != 0 && errno != EBADF)
        fatal("Error writing");
    return 0;
}
