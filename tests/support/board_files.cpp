#include "board_files.h"

#include <cstring>

namespace {

void place(std::string& bytes, std::size_t offset, std::size_t width, const std::string& text) {
    std::string value = text.substr(0, width - 1);
    bytes.replace(offset, value.size(), value);
}

}  // namespace

std::string headerBytes(int fileSerial, int textCount, int boardNum) {
    std::string header(125, '\0');
    place(header, 0, 10, std::to_string(fileSerial));
    place(header, 10, 10, std::to_string(textCount));
    place(header, 20, 5, std::to_string(boardNum));
    return header;
}

std::string recordBytes(const TestRecord& r) {
    std::string record(410, '\0');
    place(record, 0, 5, std::to_string(r.textNum));
    place(record, 5, 20, r.name);
    place(record, 25, 20, r.date);
    place(record, 45, 20, r.time);
    place(record, 65, 40, r.email);
    place(record, 105, 10, r.readCount);
    place(record, 115, 80, r.subject);
    place(record, 195, 5, r.lineCount);
    place(record, 200, 60, r.homepage);
    place(record, 260, 50, r.remoteHost);
    place(record, 310, 100, r.fileName.empty() ? "guestbook" + std::to_string(r.textNum) + ".html" : r.fileName);
    return record;
}

std::string indexOfMessages(int count, int boardNum) {
    std::string index = headerBytes(count, count, boardNum);
    for (int n = 1; n <= count; ++n) {
        TestRecord r;
        r.textNum = n;
        r.name = "Writer " + std::to_string(n);
        r.subject = "Subject " + std::to_string(n);
        index += recordBytes(r);
    }
    return index;
}

std::string fieldAt(const std::string& bytes, std::size_t offset, std::size_t width) {
    if (offset >= bytes.size()) return "";
    std::string slice = bytes.substr(offset, width);
    return slice.substr(0, strnlen(slice.c_str(), slice.size()));
}
