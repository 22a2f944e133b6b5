// Builds index-file bytes for tests, field by field at the fixed offsets,
// independently of the store code under test.
#pragma once

#include <string>

struct TestRecord {
    int textNum = 1;
    std::string name = "Kim";
    std::string date = "1997년03월05일";
    std::string time = "14시05분";
    std::string email;
    std::string readCount = "   0";
    std::string subject = "Hello";
    std::string lineCount = "1";
    std::string homepage;
    std::string remoteHost = "host.example";
    std::string fileName;  // "guestbook<textNum>.html" when empty
};

// A 125-byte header: FileSerial, TextCount, BoardNum, empty spare, zero filler.
std::string headerBytes(int fileSerial, int textCount, int boardNum);

// A 410-byte record with zero filler after each field's text.
std::string recordBytes(const TestRecord& record);

// A whole index file of `count` records numbered 1..count, record n named
// "Writer n", subject "Subject n", body file guestbook<n>.html.
std::string indexOfMessages(int count, int boardNum);

// The text of the field at `offset` (up to its NUL, within `width`).
std::string fieldAt(const std::string& bytes, std::size_t offset, std::size_t width);
