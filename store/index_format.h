// The message store of one board: the fixed-width index file guestbook.dat
// (a header, then one record per message, oldest first) and one body file
// per message. Every field is a NUL-terminated text at a fixed offset;
// numbers are decimal text. Files are read and written as raw bytes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

constexpr int kHeaderSize = 125;
constexpr int kRecordSize = 410;
constexpr int kMaxMessages = 9999;     // TextNum holds four digits
constexpr int kMaxReadCount = 999999999;
constexpr char kIndexName[] = "guestbook.dat";
constexpr char kBodyPrefix[] = "guestbook";
constexpr char kScratchName[] = "tmp.dat";
// A body file being written, until the change that names it is committed.
constexpr char kBodyScratchName[] = "guestbook.new";

struct StoreField {
    int offset;
    int width;  // the terminating NUL included
};

namespace field {
// Header.
constexpr StoreField FileSerial{0, 10};
constexpr StoreField TextCount{10, 10};
constexpr StoreField BoardNum{20, 5};
constexpr StoreField HeaderSpare{25, 100};
// Record.
constexpr StoreField TextNum{0, 5};
constexpr StoreField Name{5, 20};
constexpr StoreField Date{25, 20};
constexpr StoreField Time{45, 20};
constexpr StoreField Email{65, 40};
constexpr StoreField ReadCount{105, 10};
constexpr StoreField Subject{115, 80};
constexpr StoreField LineCount{195, 5};
constexpr StoreField Homepage{200, 60};
constexpr StoreField RemoteHost{260, 50};
constexpr StoreField FileName{310, 100};
}  // namespace field

// Byte offset of record n (counting from 1) in the index file.
long RecordOffset(int n);

// Length of the longest start of `text` that fits `maxBytes` without
// splitting a two-byte EUC-KR character.
std::size_t fittingLength(const char* text, std::size_t maxBytes);

// Copies `text` into a field, cut to width - 1 bytes at a character
// boundary, with its NUL. Bytes after the NUL keep what they held.
void putText(char* buffer, StoreField f, const char* text);

// Writes a formatted value into a field; never past its width.
void putFormatted(char* buffer, StoreField f, const char* format, ...) __attribute__((format(printf, 3, 4)));

// "%d" of `value`, as every store number is written.
void putNumber(char* buffer, StoreField f, int value);

// The text of a field, up to its NUL or its width, whichever comes first.
std::string fieldText(const char* buffer, StoreField f);

// The decimal value of a field, read within its width.
int fieldNumber(const char* buffer, StoreField f);
