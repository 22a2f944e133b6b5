/* Touches MIB mebibytes, then prints a CGI page saying so: a program of a
 * known size for the benchmark's peak memory figures. */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    size_t bytes = (size_t)(argc > 1 ? atoi(argv[1]) : 0) << 20;
    volatile char *block = bytes ? malloc(bytes) : NULL;
    if (bytes && !block) return 1;
    for (size_t at = 0; at < bytes; at += 4096) block[at] = 1;
    printf("Content-type: text/html\n\ntouched %zu\n", bytes >> 20);
    return 0;
}
