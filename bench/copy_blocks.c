/* The Windows side's copy floor for the benchmark: standard input to standard
   output in blocks of 16384 bytes, read and written as padcols.exe reads and
   writes them (binary mode; _read until the block is full or the input ends;
   fwrite to an unbuffered standard output), doing no other work. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

int main(void)
{
    static char block[16384];
    size_t n;
    int got = 0;
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, NULL, _IONBF, 0);
    do {
        for (n = 0; n < sizeof block; n += (size_t)got) {
            got = _read(_fileno(stdin), block + n, (unsigned)(sizeof block - n));
            if (got <= 0)
                break;
        }
        if (n > 0 && fwrite(block, 1, n, stdout) != n)
            return 1;
    } while (got > 0);
    return got < 0 ? 1 : 0;
}
