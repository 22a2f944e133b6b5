// Request decoding: the input is split at its first NUL into a query string
// and a form body.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "page/cgi_page.h"
#include "page/form_decoding.h"

namespace {
struct DecodeOnly : CgiPage {
    using CgiPage::CgiPage;
    int readConfig() override { return 1; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, '\0', size);
    std::size_t split = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    std::string query(bytes, split);
    std::string body = split < size ? std::string(bytes + split + 1, size - split - 1) : std::string();

    {
        Request request;
        request.query = query;
        DecodeOnly page(request);
        page.decodeRequest();
    }

    std::string buffer = body.empty() ? std::string(1, ' ') : body;
    std::FILE* in = fmemopen(buffer.data(), body.empty() ? 1 : body.size(), "r");
    if (!in) return 0;
    FormPair pairs[kPairCapacity] = {};
    // A claimed length shorter or longer than what is there, any number the
    // query spells, or the lowest of all.
    int claimed = static_cast<int>(body.size() % 4 == 0 ? body.size() * 2 + 7 : body.size() / 2);
    if (body.size() % 4 == 1) claimed = decimalValue(query.c_str());
    if (body.size() % 4 == 3) claimed = -2147483647 - 1;
    int stored = decodeFormBody(in, claimed, pairs);
    for (int k = 0; k < stored; ++k) {
        std::free(pairs[k].name);
        std::free(pairs[k].value);
    }
    std::fclose(in);

    std::string text = query;
    decodePercent(text.data());
    plusToSpace(text.data());
    decimalValue(text.c_str());
    return 0;
}
