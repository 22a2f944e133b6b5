// Request decoding: the input is split at its first NUL into a query string
// and a form body.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "page/form_decoding.h"
#include "page/page_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, '\0', size);
    std::size_t split = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    std::string query(bytes, split);
    std::string body = split < size ? std::string(bytes + split + 1, size - split - 1) : std::string();

    for (FormBody rule : {FormBody::None, FormBody::Whole, FormBody::Limited}) {
        // fmemopen wants at least one byte; an empty body is a length of 0.
        std::string form = body.empty() ? std::string(1, ' ') : body;
        std::FILE* stream = fmemopen(form.data(), form.size(), "r");
        if (!stream) return 0;
        Request request;
        request.query = query;
        request.body = stream;
        // A length to the end of input, or the body's own.
        request.contentLength = body.size() % 3 == 1 ? -1 : static_cast<int>(body.size());
        PageInput input = parsePageInput(request, rule);
        input.postedValue(6);
        input.postedNamed("token", 6);
        std::fclose(stream);
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
