#include "config/visitor_address.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// The header's entries, first to last.
std::vector<std::string> forwardedEntries(const char* header) {
    std::vector<std::string> entries;
    std::string rest = header;
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = rest.find(',', at);
        entries.push_back(trimmed(rest.substr(at, comma == std::string::npos ? std::string::npos : comma - at)));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return entries;
}

// The visitor named by the header, as address bytes; empty when none can be believed.
std::string forwardedVisitor(const char* forwardedFor, const TrustedProxies& trusted) {
    std::vector<std::string> entries = forwardedEntries(forwardedFor);
    std::string first;
    for (std::size_t k = entries.size(); k-- > 0;) {
        std::string bytes = addressBytes(entries[k]);
        // Anything that is no address was written by someone not trusted.
        if (bytes.empty()) return "";
        if (!trusted.contains(addressText(bytes).c_str())) return bytes;
        first = bytes;
    }
    return first;
}

}  // namespace

std::string addressBytes(std::string text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return "";
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return std::string(reinterpret_cast<char*>(bytes), 4);
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return "";
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes, mapped, sizeof mapped) == 0) return std::string(reinterpret_cast<char*>(bytes) + 12, 4);
    return std::string(reinterpret_cast<char*>(bytes), 16);
}

std::string addressText(const std::string& bytes) {
    char text[INET6_ADDRSTRLEN] = "";
    inet_ntop(bytes.size() == 4 ? AF_INET : AF_INET6, bytes.data(), text, sizeof text);
    return text;
}

int TrustedProxies::addAll(const char* words) {
    int refused = 0;
    const char* p = words;
    while (*p) {
        while (*p && (isBlank(*p) || *p == ',')) ++p;
        const char* end = p;
        while (*end && !isBlank(*end) && *end != ',') ++end;
        if (end == p) break;
        std::string bytes = addressBytes(std::string(p, end));
        if (bytes.empty()) {
            ++refused;
        } else {
            addresses_.push_back(bytes);
        }
        p = end;
    }
    return refused;
}

bool TrustedProxies::contains(const char* address) const {
    if (!address) return false;
    std::string bytes = addressBytes(trimmed(address));
    if (bytes.empty()) return false;
    for (const std::string& known : addresses_) {
        if (known == bytes) return true;
    }
    return false;
}

bool forwardedByTrustedProxy(const char* remoteAddr, const char* forwardedFor, const TrustedProxies& trusted) {
    return forwardedFor && trusted.contains(remoteAddr) && !forwardedVisitor(forwardedFor, trusted).empty();
}

std::string visitorAddress(const char* remoteAddr, const char* forwardedFor, const TrustedProxies& trusted) {
    if (forwardedFor && trusted.contains(remoteAddr)) {
        std::string visitor = forwardedVisitor(forwardedFor, trusted);
        if (!visitor.empty()) return addressText(visitor);
    }
    return remoteAddr ? remoteAddr : "";
}
