#include "page/page_input.h"

#include <cstdio>
#include <cstdlib>

#include "page/form_decoding.h"
#include "text/decimal.h"

namespace {

// The value of the query's next "name=value" pair, cut off `query`: what
// follows the pair's first "=", or the empty text without one.
std::string takeQueryValue(std::string& query) {
    std::size_t amp = query.find('&');
    std::string pair = query.substr(0, amp);
    query = amp == std::string::npos ? std::string() : query.substr(amp + 1);
    std::size_t eq = pair.find('=');
    return eq == std::string::npos ? std::string() : pair.substr(eq + 1);
}

// The decoder's table, its texts given back however the decoding ends.
struct PairTable {
    PairTable() : pairs(kPairCapacity, FormPair{nullptr, nullptr}) {}
    ~PairTable() {
        for (FormPair& pair : pairs) {
            std::free(pair.name);
            std::free(pair.value);
        }
    }
    std::vector<FormPair> pairs;
};

std::vector<PostedField> readForm(std::FILE* in, int budget) {
    PairTable table;
    int stored = decodeFormBody(in, budget, table.pairs.data());
    std::vector<PostedField> fields;
    fields.reserve(static_cast<std::size_t>(stored));
    for (int k = 0; k < stored; ++k) fields.push_back({table.pairs[k].name, table.pairs[k].value});
    return fields;
}

}  // namespace

PageInput parsePageInput(const Request& request, FormBody body) {
    PageInput input;
    std::string query = request.query;
    for (std::string& value : input.queryValues) value = takeQueryValue(query);
    input.board = decimalValue(input.queryValues[0].c_str());
    input.message = decimalValue(input.queryValues[1].c_str());
    input.remoteAddr = request.remoteAddr;
    input.remoteHost = request.remoteHost;
    input.forwardedFor = request.forwardedFor;
    input.now = request.now;
    input.ifNoneMatch = request.ifNoneMatch;
    input.ifModifiedSince = request.ifModifiedSince;

    const int length = request.contentLength;
    if (body == FormBody::None || length == 0 || !request.body) return input;
    if (body == FormBody::Whole) {
        input.posted = readForm(request.body, length);
        return input;
    }
    // The limit is checked before anything is read, and again for a
    // negative length, which reads to the end of input: then at most the
    // limit is read.
    input.bodyTooLarge = length > kMaxFormBody;
    if (input.bodyTooLarge) return input;
    input.posted = readForm(request.body, length > 0 ? length : kMaxFormBody);
    input.bodyTooLarge = length < 0 && std::getc(request.body) != EOF;
    return input;
}

const std::string& PageInput::postedValue(int position) const {
    static const std::string none;
    int k = position - 1;
    return k >= 0 && k < static_cast<int>(posted.size()) ? posted[static_cast<std::size_t>(k)].value : none;
}

const std::string* PageInput::postedNamed(const char* name, int position) const {
    for (std::size_t k = static_cast<std::size_t>(position - 1); k < posted.size(); ++k) {
        if (posted[k].name == name) return &posted[k].value;
    }
    return nullptr;
}

std::string PageInput::visitor(const TrustedProxies& trusted) const {
    return visitorAddress(remoteAddr.c_str(), forwardedFor.c_str(), trusted);
}
