#include "command_line.h"

#include "filter/filter_state.h"
#include "fatal.h"
#include "platform.h"

#include <cstdio>
#include <cstdlib>

static const char usage_screen[] =
    "\n"
    "Replaces tabs with strings of spaces -- Ver " PADCOLS_VERSION ", 2026 the padcols developers\n"
    "\n"
    " USAGE:  padcols {tab} <infile >outfile\n"
    "\n"
    "{tab}:   tab stop setting (default is 8)\n";

void usage_if_interactive()
{
    if (!stdin_is_char_device())
        return;
    // The status is 1 whether or not the screen could be written.
    static_cast<void>(std::fputs(usage_screen, stdout));
    std::exit(1);
}

std::int32_t tab_stop_value(const char *arg)
{
    // strtol skips leading white space and takes an optional sign; the whole
    // rest of the argument must be digits. Out-of-range values come back as
    // LONG_MIN or LONG_MAX and fail the range test.
    char *end;
    const long value = std::strtol(arg, &end, 10);
    if (*end != '\0' || value < 1 || value > MAX_TAB_STOP)
        return 0;
    return static_cast<std::int32_t>(value);
}

void set_tab_stop(const char *arg)
{
    const std::int32_t value = tab_stop_value(arg);
    if (value == 0)
        fatal("Illegal tab stop");
    tab_stop = value;
}

#ifdef _WIN32
void set_tab_stop(wchar_t *arg)
{
    // Narrowed in place, with no memory of its own: byte i of the ASCII copy
    // lies within wide character i / 2, which has been read by then.
    char *const ascii = reinterpret_cast<char *>(arg);
    std::size_t i = 0;
    for (; arg[i] != L'\0'; ++i) {
        if (arg[i] > 0x7F)
            fatal("Illegal tab stop");
        ascii[i] = static_cast<char>(arg[i]);
    }
    ascii[i] = '\0';
    set_tab_stop(ascii);
}
#endif
