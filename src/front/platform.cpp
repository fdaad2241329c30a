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

std::size_t read_block(unsigned char *buf, std::size_t n, bool &failed)
{
    // Not fread: the runtime may drop the bytes it gathered for a block when
    // a later read of it fails (Wine's msvcrt does).
    std::size_t done = 0;
    while (done < n) {
        const int got = _read(_fileno(stdin), buf + done, static_cast<unsigned>(n - done));
        if (got <= 0) {
            failed = got < 0;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::size_t write_block(const unsigned char *buf, std::size_t n)
{
    return std::fwrite(buf, 1, n, stdout);
}

#else

#include <cerrno>
#include <poll.h>
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

// After a read or write on fd failed: true when it failed only because the
// descriptor is non-blocking and was not ready (EAGAIN), once it is ready for
// events; false for any other failure.
static bool ready_again(int fd, short events)
{
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    pollfd ready = {fd, events, 0};
    while (poll(&ready, 1, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

std::size_t read_block(unsigned char *buf, std::size_t n, bool &failed)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = read(STDIN_FILENO, buf + done, n - done);
        if (got > 0)
            done += static_cast<std::size_t>(got);
        else if (got == 0)
            break; // the end of the input
        else if (!ready_again(STDIN_FILENO, POLLIN)) {
            failed = true;
            break;
        }
    }
    return done;
}

std::size_t write_block(const unsigned char *buf, std::size_t n)
{
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = write(STDOUT_FILENO, buf + done, n - done);
        if (put > 0)
            done += static_cast<std::size_t>(put);
        else if (put == 0 || !ready_again(STDOUT_FILENO, POLLOUT))
            break;
    }
    return done;
}

#endif
