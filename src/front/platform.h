// The front end's steps that differ between operating systems. The entry
// point (main.cpp) and the pump's reads and writes (filter/pump.cpp) differ
// as well, in place.
#ifndef PADCOLS_PLATFORM_H
#define PADCOLS_PLATFORM_H

#include <cstddef>

// True when standard input is a character device (a terminal, a console, the
// null device), and also when it is closed or its type cannot be told.
bool stdin_is_char_device();

// Stops line-end translation and end-of-file characters on standard input and
// standard output. Does nothing where the system makes no such distinction.
void set_binary_mode();

#endif
