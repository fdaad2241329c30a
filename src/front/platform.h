// The only steps that differ between operating systems.
#ifndef PADCOLS_PLATFORM_H
#define PADCOLS_PLATFORM_H

#include <cstddef>

// True when standard input is a character device (a terminal, a console, the
// null device), and also when it is closed or its type cannot be told.
bool stdin_is_char_device();

// Stops line-end translation and end-of-file characters on standard input and
// standard output. Does nothing where the system makes no such distinction.
void set_binary_mode();

// Reads standard input into buf until it holds n bytes or the input ends,
// each read asking for the rest of buf. Returns the bytes read; when a read
// fails, sets failed and still counts the bytes read before it.
std::size_t read_block(unsigned char *buf, std::size_t n, bool &failed);

// Writes the n bytes at buf to standard output; returns how many were
// written, n unless a write failed.
std::size_t write_block(const unsigned char *buf, std::size_t n);

// On a POSIX system a standard input or output left non-blocking is waited
// for (poll) when a read or write finds it not ready (EAGAIN), and the
// request goes on from where it stopped; a blocking one sees the same reads
// and writes as an unbuffered fread and fwrite would make.

#endif
