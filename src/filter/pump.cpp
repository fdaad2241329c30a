#include "filter_state.h"

#include "front/fatal.h"

#include <cstdio>
#include <cstring>

// The block reads and writes, the one step of the pump that differs between
// operating systems.
//
// read_block reads standard input into buf until it holds n bytes or the
// input ends, each read asking for the rest of buf. It returns the bytes
// read; when a read fails, it sets failed and still counts the bytes read
// before it. write_block writes the n bytes at buf to standard output and
// returns how many were written, n unless a write failed.
//
// Each read asks for all that the block still lacks, and each POSIX write
// for all of the block that is left, so each takes one request a block
// unless the system hands over or takes less at a time (as a pipe may). On a
// POSIX system both go straight to the descriptors, and a standard input or
// output left non-blocking is waited for (poll) when a read or write finds
// it not ready (EAGAIN), the request going on from where it stopped. On
// Windows reads go to _read, and writes through fwrite to a standard output
// the entry has made unbuffered, so that each block reaches the system
// before fwrite returns.
#ifdef _WIN32

#include <io.h>

static std::size_t read_block(unsigned char *buf, std::size_t n, bool &failed)
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

static std::size_t write_block(const unsigned char *buf, std::size_t n)
{
    return std::fwrite(buf, 1, n, stdout);
}

#else

#include <cerrno>
#include <poll.h>
#include <unistd.h>

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

static std::size_t read_block(unsigned char *buf, std::size_t n, bool &failed)
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

static std::size_t write_block(const unsigned char *buf, std::size_t n)
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

// Fills the empty input block from standard input. A short read means the end
// of the input or a failed read: its bytes are moved to end at the end of the
// block, where the expander looks for the end of the data. Returns false when
// a read failed.
static bool refill()
{
    bool failed = false;
    const std::size_t n = read_block(in_buf, BLOCK_SIZE, failed);
    if (n == BLOCK_SIZE) {
        in_pos = in_buf;
        return true;
    }
    if (failed && n == 0)
        fatal("Error reading"); // nothing gathered, nothing to write first
    in_pos = in_end - n;
    std::memmove(in_pos, in_buf, n); // overlaps when n > BLOCK_SIZE / 2
    return !failed;
}

void pump()
{
    bool read_failed = false;
    for (;;) {
        // Refill only once the input is used up. The output block is empty
        // then, so a failed read never discards expanded output. The bytes a
        // failed read gathered are expanded and written like any others; the
        // failure is reported once they are used up, here.
        if (in_pos == in_buf + BLOCK_SIZE) {
            if (read_failed)
                fatal("Error reading");
            read_failed = !refill();
        }

        expand_block();

        const std::size_t n = static_cast<std::size_t>(out_pos - out_buf);
        if (n == 0)
            return; // nothing left to expand: the input has ended
        out_pos = out_buf;
        if (write_block(out_buf, n) != n)
            fatal("Error writing");
    }
}
