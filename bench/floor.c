/* The floor a run of pulseregen is measured against: what its input and
 * output cost to move. Reads INPUT once in 1 MiB read()s and writes BYTES
 * bytes of zeros to OUTPUT in 1 MiB write()s.
 * usage: floor INPUT OUTPUT BYTES */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#define CHUNK (1 << 20)

static char buffer[CHUNK];

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s INPUT OUTPUT BYTES\n", argv[0]);
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        perror("floor");
        return 1;
    }
    ssize_t got;
    while ((got = read(in, buffer, CHUNK)) > 0)
        ;
    if (got < 0) {
        perror("floor: read");
        return 1;
    }
    unsigned long long left = strtoull(argv[3], NULL, 10);
    for (size_t i = 0; i < CHUNK; ++i)
        buffer[i] = 0;
    while (left > 0) {
        size_t n = left < CHUNK ? (size_t)left : CHUNK;
        ssize_t put = write(out, buffer, n);
        if (put <= 0) {
            perror("floor: write");
            return 1;
        }
        left -= (unsigned long long)put;
    }
    return close(out) == 0 && close(in) == 0 ? 0 : 1;
}
