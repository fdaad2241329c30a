/* The floor for the whole-process benchmark: the reads and writes padcols
   makes on a corpus, made again with no expanding. The schedule file
   (argv[1]) lists them in order, as bench/bench.py records them from padcols
   with strace: one little-endian 32-bit word each, the size asked for, with
   the top bit set for a write. A read reads standard input into the block; a
   write writes that many bytes of a static block to standard output. The
   schedule is read whole, with one read of the file, before the first of
   them: parsing it as text took longer than the writes of a corpus of tabs.
   Reads and writes go through the calls padcols makes on the same system: on
   POSIX read and write; on Windows _read, and fwrite to an unbuffered
   standard output in binary mode, as padcols.exe does. */
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

static unsigned char block[16384];

int main(int argc, char **argv)
{
    FILE *file;
    unsigned char *words;
    long bytes;
    long i;

    if (argc != 2 || (file = fopen(argv[1], "rb")) == NULL || fseek(file, 0, SEEK_END) != 0 ||
        (bytes = ftell(file)) < 0 || fseek(file, 0, SEEK_SET) != 0) {
        fprintf(stderr, "usage: replay_io SCHEDULE <input >output\n");
        return 2;
    }
    words = malloc(bytes > 0 ? (size_t)bytes : 1);
    if (words == NULL || fread(words, 1, (size_t)bytes, file) != (size_t)bytes) {
        fprintf(stderr, "replay_io: cannot read %s\n", argv[1]);
        return 2;
    }
    fclose(file);

#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, NULL, _IONBF, 0);
#endif
    for (i = 0; i + 4 <= bytes; i += 4) {
        const unsigned long word = (unsigned long)words[i] | (unsigned long)words[i + 1] << 8 |
                                   (unsigned long)words[i + 2] << 16 |
                                   (unsigned long)words[i + 3] << 24;
        const unsigned size = (unsigned)(word & 0x7fffffffUL);
        if (size > sizeof block) {
            fprintf(stderr, "replay_io: a call of %u bytes, more than a block\n", size);
            return 2;
        }
        if (word >> 31) {
#ifdef _WIN32
            if (fwrite(block, 1, size, stdout) != size)
                return 1;
#else
            if (write(STDOUT_FILENO, block, size) != (long)size)
                return 1;
#endif
        } else {
#ifdef _WIN32
            if (_read(_fileno(stdin), block, size) < 0)
                return 1;
#else
            if (read(STDIN_FILENO, block, size) < 0)
                return 1;
#endif
        }
    }
    free(words);
    return 0;
}
