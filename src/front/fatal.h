// The one failure path.
#ifndef PADCOLS_FATAL_H
#define PADCOLS_FATAL_H

// Writes "padcols: ", the message and a line feed to standard error, then
// exits with status 1.
[[noreturn]] void fatal(const char *message);

#endif
