/* The cheapest CGI program: one fixed page of PAGE_BYTES bytes (header
 * included) in a single write. The benchmark builds it with the size of
 * the board's listing page so both send the same bytes. */
#include <string.h>
#include <unistd.h>

#ifndef PAGE_BYTES
#define PAGE_BYTES 4096
#endif

static char page[PAGE_BYTES];

int main(void) {
    static const char head[] = "Content-type: text/html\n\n";
    memset(page, 'x', sizeof page);
    memcpy(page, head, sizeof head - 1);
    page[sizeof page - 1] = '\n';
    const char *p = page;
    size_t left = sizeof page;
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n <= 0) return 1;
        p += n;
        left -= (size_t)n;
    }
    return 0;
}
