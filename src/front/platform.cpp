#include "platform.h"

#include <cstdio>

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

bool stdin_is_char_device()
{
    // A console and the NUL device both report _S_IFCHR. Without a standard
    // input, _fileno gives a negative handle and _fstat fails.
    struct _stat st;
    if (_fstat(_fileno(stdin), &st) != 0)
        return true;
    return (st.st_mode & _S_IFCHR) != 0;
}

void set_binary_mode()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

#else

#include <sys/stat.h>
#include <unistd.h>

bool stdin_is_char_device()
{
    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0)
        return true;
    return S_ISCHR(st.st_mode);
}

void set_binary_mode()
{
}

#endif
