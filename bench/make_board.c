/* Writes a board of COUNT messages into DIR: guestbook.dat (125-byte
 * header, 410-byte records, zero filler) and one body file per message.
 *
 *   make_board DIR COUNT [BOARDNUM]
 *
 * Field offsets are written out here on purpose, not taken from the
 * programs' headers, so a layout slip in the programs shows as a failed
 * benchmark run instead of a silently matching one. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define HEADER_SIZE 125
#define RECORD_SIZE 410

/* A field's text, cut to width - 1 bytes, and its NUL. */
static void put(char *buffer, int offset, int width, const char *text) {
    size_t length = strnlen(text, (size_t)width - 1);
    memcpy(buffer + offset, text, length);
    buffer[offset + (int)length] = '\0';
}

static void fail(const char *what) {
    fprintf(stderr, "make_board: %s: %s\n", what, strerror(errno));
    exit(1);
}

int main(int argc, char **argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: make_board DIR COUNT [BOARDNUM]\n");
        return 2;
    }
    const char *dir = argv[1];
    int count = atoi(argv[2]);
    int board = argc == 4 ? atoi(argv[3]) : 1;
    if (count < 1 || count > 9999) {
        fprintf(stderr, "make_board: COUNT must be 1 to 9999\n");
        return 2;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/guestbook.dat", dir);
    FILE *index = fopen(path, "wb");
    if (!index) fail(path);

    char header[HEADER_SIZE] = {0};
    char number[32];
    snprintf(number, sizeof number, "%d", count);
    put(header, 0, 10, number);  /* FileSerial */
    put(header, 10, 10, number); /* TextCount */
    snprintf(number, sizeof number, "%d", board);
    put(header, 20, 5, number); /* BoardNum */
    if (fwrite(header, 1, sizeof header, index) != sizeof header) fail(path);

    /* EUC-KR: 김 B1E8, 년 B3E2, 월 BFF9, 일 C0CF, 시 BDC3, 분 BAD0. */
    static const char date[] = "2026\xb3\xe2" "12\xbf\xf9" "07\xc0\xcf";
    static const char clock[] = "14\xbd\xc3" "05\xba\xd0";
    for (int n = 1; n <= count; ++n) {
        char record[RECORD_SIZE] = {0};
        char text[128];
        snprintf(text, sizeof text, "%d", n);
        put(record, 0, 5, text); /* TextNum */
        snprintf(text, sizeof text, "\xb1\xe8 %d", n);
        put(record, 5, 20, text); /* Name */
        put(record, 25, 20, date);
        put(record, 45, 20, clock);
        snprintf(text, sizeof text, "writer%d@example.org", n);
        put(record, 65, 40, text);          /* Email */
        put(record, 105, 10, "   0");       /* ReadCount */
        snprintf(text, sizeof text, "Subject of message %d", n);
        put(record, 115, 80, text);         /* Subject */
        put(record, 195, 5, "3");           /* LineCount */
        put(record, 200, 60, "http://example.org/"); /* Homepage */
        put(record, 260, 50, "host.example");        /* RemoteHost */
        snprintf(text, sizeof text, "guestbook%d.html", n);
        put(record, 310, 100, text);        /* FileName */
        if (fwrite(record, 1, sizeof record, index) != sizeof record) fail(path);

        char body_path[4096];
        snprintf(body_path, sizeof body_path, "%s/%s", dir, text);
        FILE *body = fopen(body_path, "wb");
        if (!body) fail(body_path);
        fprintf(body, "Body of message %d.<br>\nA second line.<br>\nAnd a third.", n);
        if (fclose(body) != 0) fail(body_path);
    }
    if (fclose(index) != 0) fail(path);
    return 0;
}
