// The responder's record handling: the input arrives on one connection in
// pieces whose sizes its first byte picks; every whole request is read,
// answered and followed by the next, as a worker does.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fcgi_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size -= 1;
    fcgi::Limits limits;
    limits.maxParams = 4096;
    limits.maxBody = 4096;
    fcgi::Connection connection(limits);
    for (std::size_t at = 0; at < size; at += piece) {
        connection.receive(bytes + at, size - at < piece ? size - at : piece);
        while (connection.phase() == fcgi::Connection::Phase::Whole) {
            fcgi::Request& request = connection.request();
            std::string seen;
            for (const char* name : {"SCRIPT_NAME", "QUERY_STRING", "CONTENT_LENGTH", "REMOTE_ADDR", ""}) {
                if (const char* value = request.param(name)) seen += value;
            }
            if (std::FILE* body = request.openBody()) {
                char chunk[512];
                std::size_t read = 0;
                while (std::size_t n = std::fread(chunk, 1, sizeof chunk, body)) read += n;
                if (read != request.bodySize()) __builtin_trap();
                std::fclose(body);
            }
            connection.answer(seen, "x\n", 2, 1);
            connection.pending().clear();
            connection.next();
        }
        if (connection.phase() == fcgi::Connection::Phase::Failed && !connection.failure()) __builtin_trap();
        if (connection.phase() == fcgi::Connection::Phase::Failed ||
            connection.phase() == fcgi::Connection::Phase::Closing) {
            break;
        }
        connection.pending().clear();
    }
    return 0;
}
