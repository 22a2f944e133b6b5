#include "link_count.h"

#include <cstring>

namespace {

bool startsAt(const std::string& text, std::size_t at, const char* word) {
    const std::size_t size = std::strlen(word);
    if (text.size() - at < size) return false;
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

}  // namespace

int countLinks(const std::string& text) {
    int links = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (static_cast<unsigned char>(text[at]) >= 0x81) {
            ++at;
        } else if (startsAt(text, at, "http://") || startsAt(text, at, "https://") || startsAt(text, at, "ftp://")) {
            ++links;
            at = text.find("://", at) + 2;
            // The host that follows is part of this link.
            if (startsAt(text, at + 1, "www.")) at += 4;
        } else if (startsAt(text, at, "www.")) {
            ++links;
            at += 3;
        }
    }
    return links;
}
