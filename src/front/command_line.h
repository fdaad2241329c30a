// The usage screen and the tab-stop argument.
#ifndef PADCOLS_COMMAND_LINE_H
#define PADCOLS_COMMAND_LINE_H

#include <cstdint>

// Shows the usage screen on standard output and exits with status 1 when
// standard input is a character device; otherwise returns.
void usage_if_interactive();

// The tab stop the argument gives when it is a whole decimal number from 1 to
// MAX_TAB_STOP (after optional white space and sign), or 0 when it is anything
// else.
std::int32_t tab_stop_value(const char *arg);

// Sets tab_stop from the argument, a whole decimal number from 1 to
// MAX_TAB_STOP; anything else ends the run with "Illegal tab stop".
void set_tab_stop(const char *arg);

#ifdef _WIN32
// The same for the argument as the UTF-16 command line gives it: any
// character outside ASCII is refused, as on other systems, rather than left to
// a best-fit conversion that would make a fullwidth or superscript digit an
// ASCII one. The argument's memory is reused for its ASCII form.
void set_tab_stop(wchar_t *arg);
#endif

#endif
