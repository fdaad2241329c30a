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

/* The size a schedule word asks for: its low 31 bits. */
static unsigned call_size(const unsigned char *word)
{
    return (unsigned)(word[0] | word[1] << 8 | word[2] << 16 | (word[3] & 0x7f) << 24);
}

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
    /* The whole schedule is checked before the first call, so that a bad one
       times nothing. */
    if (bytes % 4 != 0) {
        fprintf(stderr, "replay_io: %s does not hold whole words\n", argv[1]);
        return 2;
    }
    for (i = 0; i < bytes; i += 4) {
        const unsigned size = call_size(words + i);
        if (size > sizeof block) {
            fprintf(stderr, "replay_io: a call of %u bytes, more than a block\n", size);
            return 2;
        }
    }

#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, NULL, _IONBF, 0);
#endif
    for (i = 0; i < bytes; i += 4) {
        const unsigned size = call_size(words + i);
        if (words[i + 3] & 0x80) {
#ifdef _WIN32
            const int failed = fwrite(block, 1, size, stdout) != size;
#else
            const int failed = write(STDOUT_FILENO, block, size) != (long)size;
#endif
            if (failed) {
                fprintf(stderr, "replay_io: a write of %u bytes failed or fell short\n", size);
                return 1;
            }
        } else {
#ifdef _WIN32
            const int failed = _read(_fileno(stdin), block, size) < 0;
#else
            const int failed = read(STDIN_FILENO, block, size) < 0;
#endif
            if (failed) {
                fprintf(stderr, "replay_io: a read failed\n");
                return 1;
            }
        }
    }
    free(words);
    return 0;
}
