#include "platform.h"

#include <cstdio>

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool stdin_is_char_device()
{
    // The console and the NUL device are character devices. A missing
    // standard input has no handle, and a handle of a type the system cannot
    // tell gives FILE_TYPE_UNKNOWN: both count as well.
    const intptr_t handle = _get_osfhandle(_fileno(stdin));
    if (handle == -1 || handle == 0)
        return true;
    const DWORD type = GetFileType(reinterpret_cast<HANDLE>(handle));
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_UNKNOWN;
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
