/* The Windows side's copy floor for the benchmark: standard input to standard
   output in blocks of 16384 bytes, through the same C runtime calls as
   padcols.exe (binary mode, unbuffered streams, fread and fwrite), doing no
   other work. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

int main(void)
{
    static char block[16384];
    size_t n;
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdin, NULL, _IONBF, 0);
    setvbuf(stdout, NULL, _IONBF, 0);
    while ((n = fread(block, 1, sizeof block, stdin)) > 0)
        if (fwrite(block, 1, n, stdout) != n)
            return 1;
    return ferror(stdin) ? 1 : 0;
}
