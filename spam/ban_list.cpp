#include "spam/ban_list.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>

#include "spam/reader_text.h"
#include "text/hangul.h"
#include "config/visitor_address.h"

namespace {

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool prefixMatches(const std::string& a, const std::string& b, int bits) {
    if (a.size() != b.size()) return false;
    int whole = bits / 8;
    if (std::memcmp(a.data(), b.data(), whole) != 0) return false;
    int rest = bits % 8;
    if (rest == 0) return true;
    unsigned char mask = static_cast<unsigned char>(0xFF << (8 - rest));
    return (static_cast<unsigned char>(a[whole]) & mask) == (static_cast<unsigned char>(b[whole]) & mask);
}

char smallLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

BanKind classifyBanEntry(const std::string& line, std::string* canonical) {
    std::string entry = trimmed(line);
    canonical->clear();
    if (entry.empty() || entry[0] == '#') return BanKind::None;
    std::size_t slash = entry.find('/');
    std::string bytes = addressBytes(entry.substr(0, slash));
    if (!bytes.empty() && slash == std::string::npos) {
        *canonical = addressText(bytes);
        return BanKind::Address;
    }
    std::string bitsText = slash == std::string::npos ? "" : entry.substr(slash + 1);
    if (!bytes.empty() && !bitsText.empty() && bitsText.size() <= 3 &&
        bitsText.find_first_not_of("0123456789") == std::string::npos) {
        int bits = std::atoi(bitsText.c_str());
        // A mapped IPv4 address's range counts its bits in the IPv6 way.
        if (bytes.size() == 4 && entry.find(':') != std::string::npos) bits -= 96;
        if (bits >= 0 && bits <= static_cast<int>(bytes.size() * 8)) {
            *canonical = addressText(bytes) + "/" + std::to_string(bits);
            return BanKind::Range;
        }
    }
    *canonical = entry;
    return BanKind::Word;
}

void BanList::parse(const std::string& text, std::vector<std::string>* unusable) {
    for (const std::string& line : banListLines(text)) {
        std::string entry;
        switch (classifyBanEntry(line, &entry)) {
            case BanKind::Address: ranges_.push_back(Range{addressBytes(entry), static_cast<int>(addressBytes(entry).size() * 8)}); break;
            case BanKind::Range: {
                std::size_t slash = entry.find('/');
                ranges_.push_back(Range{addressBytes(entry.substr(0, slash)), std::atoi(entry.c_str() + slash + 1)});
                break;
            }
            case BanKind::Word: {
                std::string bytes;
                if (!utf8ToCp949(entry, &bytes)) {
                    unusable->push_back(entry);
                    break;
                }
                // The second byte of a two-byte character stays as it is, as
                // the reader's text keeps it.
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    if (static_cast<unsigned char>(bytes[i]) >= 0x81) ++i;
                    else bytes[i] = smallLetter(bytes[i]);
                }
                words_.push_back(bytes);
                break;
            }
            case BanKind::None: break;
        }
    }
}

bool BanList::bansAddress(const std::string& address) const {
    std::string bytes = addressBytes(address);
    if (bytes.empty()) return false;
    for (const Range& range : ranges_) {
        if (prefixMatches(bytes, range.bytes, range.bits)) return true;
    }
    return false;
}

bool BanList::bansText(const char* text) const {
    if (words_.empty()) return false;
    const std::string reader = readerText(text);
    for (const std::string& word : words_) {
        if (readerHoldsWord(reader, word)) return true;
    }
    return false;
}

std::vector<std::string> banListLines(const std::string& text) {
    std::vector<std::string> lines;
    // A byte-order mark, as editors may write one, is no part of the first entry.
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}
