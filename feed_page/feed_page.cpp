// FeedPage: the newest messages of a board, each with its title, author,
// date in the site's time zone, the link to its message page and its body
// as that page shows it (through the same markup filter), as Atom.
#include "feed_page.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <nettle/sha2.h>
#include <string>
#include <sys/stat.h>

#include "page/html_escape.h"
#include "page/page_frame.h"
#include "store/board_store.h"
#include "store/index_format.h"
#include "text/board_utf8.h"

namespace {

constexpr char kNotFound[] = "Status: 404 Not Found\nContent-type: text/plain\n\nNo such feed.\n";

void append(Response& response, const std::string& text) { response.append(text.data(), text.size()); }

// XML character data of board text (EUC-KR) or markup made of it.
std::string xmlText(const std::string& boardText) { return escapeXml(utf8OfBoardText(boardText)); }

std::string hexDigest(const std::string& bytes, std::size_t size) {
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
    sha256_digest(&context, sizeof digest, digest);
    std::string hex;
    char two[3];
    for (std::size_t k = 0; k < size && k < sizeof digest; ++k) {
        std::snprintf(two, sizeof two, "%02x", digest[k]);
        hex += two;
    }
    return hex;
}

// A name that stays the same while the message does: its body file's
// name is never given to another message of the board.
std::string uuidOf(const std::string& text) {
    std::string hex = hexDigest(text, 16);
    return "urn:uuid:" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) +
           "-" + hex.substr(20, 12);
}

// RFC 3339 in the site's time zone (the program's TZ).
std::string rfc3339(std::time_t when) {
    std::tm local = {};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    long offset = local.tm_gmtoff;
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 3600,
                  (offset < 0 ? -offset : offset) % 3600 / 60);
    return std::string(text) + zone;
}

std::string httpDate(std::time_t when) {
    std::tm utc = {};
    gmtime_r(&when, &utc);
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[utc.tm_wday % 7], utc.tm_mday,
                  months[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

// An HTTP date as sent in If-Modified-Since (its preferred form); -1 otherwise.
std::time_t parseHttpDate(const std::string& text) {
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char month[4] = "";
    std::tm utc = {};
    if (std::sscanf(text.c_str(), "%*3s, %2d %3s %4d %2d:%2d:%2d GMT", &utc.tm_mday, month, &utc.tm_year, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec) != 6) {
        return -1;
    }
    const char* at = std::strstr(months, month);
    if (!at || std::strlen(month) != 3 || (at - months) % 3 != 0) return -1;
    utc.tm_mon = static_cast<int>(at - months) / 3;
    utc.tm_year -= 1900;
    return timegm(&utc);
}

// The date and time a message was stored, as its record writes them in
// the site's time zone ("2026년12월08일", "15시10분"); -1 when unreadable.
std::time_t storedTime(const char* record) {
    int numbers[5] = {};
    int found = 0;
    const std::string texts[] = {fieldText(record, field::Date), fieldText(record, field::Time)};
    for (const std::string& text : texts) {
        for (std::size_t k = 0; k < text.size() && found < 5;) {
            if (text[k] < '0' || text[k] > '9') {
                ++k;
                continue;
            }
            int value = 0;
            for (int digits = 0; k < text.size() && text[k] >= '0' && text[k] <= '9' && digits < 6; ++k, ++digits) {
                value = value * 10 + (text[k] - '0');
            }
            numbers[found++] = value;
        }
    }
    if (found < 5) return -1;
    std::tm local = {};
    local.tm_year = numbers[0] - 1900;
    local.tm_mon = numbers[1] - 1;
    local.tm_mday = numbers[2];
    local.tm_hour = numbers[3];
    local.tm_min = numbers[4];
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// True when `header` (If-None-Match) names `etag`, weakly or strongly.
bool namesTag(const std::string& header, const std::string& etag) {
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(',', start);
        if (end == std::string::npos) end = header.size();
        std::string tag = header.substr(start, end - start);
        tag.erase(0, tag.find_first_not_of(" \t"));
        tag.erase(tag.find_last_not_of(" \t") + 1);
        if (tag.compare(0, 2, "W/") == 0) tag.erase(0, 2);
        if (tag == "*" || tag == etag) return true;
        start = end + 1;
    }
    return false;
}

struct Entry {
    std::string xml;
    std::time_t updated;
};

Entry entryOf(const Frame& frame, const BoardSettings& board, const char* record, const std::string& body,
              std::time_t fallback) {
    const std::string number = fieldText(record, field::TextNum);
    std::time_t updated = storedTime(record);
    if (updated < 0) updated = fallback;
    std::string link = frame.baseDir + "cgi-bin/ShowPage.exe?BoardNum=" + std::to_string(frame.board) + "&TextNum=";
    // The page's own link: the number as its record holds it.
    link += hrefValue(number.c_str()).html();
    std::string xml = "<entry>\n";
    xml += "<title type=\"html\">" + xmlText(linkText(fieldText(record, field::Subject).c_str()).html()) + "</title>\n";
    xml += "<author><name>" + xmlText(fieldText(record, field::Name)) + "</name></author>\n";
    xml += "<id>" + uuidOf(board.dir + fieldText(record, field::FileName)) + "</id>\n";
    xml += "<updated>" + rfc3339(updated) + "</updated>\n";
    xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + xmlText(link) + "\"/>\n";
    xml += "<content type=\"html\">" + xmlText(visitorText(body.data(), body.size()).html()) + "</content>\n";
    xml += "</entry>\n";
    return Entry{xml, updated};
}

std::string feedTitle(const SiteConfig& site, int board) {
    auto title = site.titles.find(board);
    if (title == site.titles.end()) return "게시판 " + std::to_string(board);
    // The owner writes the title in UTF-8; an EUC-KR one is taken too.
    return title->second;
}

}  // namespace

int feedPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) {
        response.append("Content-type: text/html\n\n", 25);
        return errorPage(out, frame, *board.refusal);
    }
    // Only a configured board of a site that serves feeds has one.
    if (!site.feed || board.settings.dir.empty() || !board.settings.fits(kIndexName)) {
        response.append(kNotFound, sizeof kNotFound - 1);
        return 1;
    }
    BoardStore store(board.settings.dir.c_str());
    store.lockForReading();
    // The board directory changes with every post and erasure, its index
    // with every reading too. A board not made yet has an empty feed, as
    // it has an empty listing.
    struct stat changed = {};
    std::time_t lastModified = ::stat(board.settings.dir.c_str(), &changed) == 0 ? changed.st_mtim.tv_sec : 0;
    struct stat index = {};
    if (::stat(store.indexPath(), &index) == 0 && index.st_mtim.tv_sec > lastModified) lastModified = index.st_mtim.tv_sec;

    char header[kHeaderSize];
    StoreResult head = store.ReadHeader(header);
    const int count = head == StoreResult::Done ? store.messageCount() : 0;
    std::string entries;
    std::time_t newest = -1;
    if (count > 0) {
        const int first = count > kFeedSize ? count - kFeedSize + 1 : 1;
        std::string records;
        store.ReadRecords(first, count, &records);
        for (int i = count; i >= first; --i) {
            std::size_t at = static_cast<std::size_t>(i - first) * kRecordSize;
            if (at + kRecordSize > records.size()) continue;
            const char* record = records.data() + at;
            const std::string fileName = fieldText(record, field::FileName);
            std::string body;
            if (!board.settings.fits(fileName.c_str()) || store.readBody(fileName, &body) != StoreResult::Done) continue;
            Entry entry = entryOf(frame, board.settings, record, body, lastModified);
            if (entry.updated > newest) newest = entry.updated;
            entries += entry.xml;
        }
    }
    store.unlock();

    std::string feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
    const std::string title = feedTitle(site, input.board);
    feed += "<title>" + escapeXml(isUtf8(title) ? title : utf8OfBoardText(title)) + "</title>\n";
    feed += "<id>" + uuidOf(board.settings.dir) + "</id>\n";
    feed += "<updated>" + rfc3339(newest >= 0 ? newest : lastModified) + "</updated>\n";
    const std::string board_ = std::to_string(input.board);
    feed += "<link rel=\"self\" href=\"" + xmlText(frame.baseDir) + "cgi-bin/FeedPage.exe?BoardNum=" + board_ + "\"/>\n";
    feed += "<link rel=\"alternate\" type=\"text/html\" href=\"" + xmlText(frame.baseDir) +
            "cgi-bin/ListPage.exe?BoardNum=" + board_ + "&amp;TextNum=0\"/>\n";
    feed += "<generator version=\"" + std::string(kVersion) + "\">gesipan</generator>\n";
    feed += entries;
    feed += "</feed>\n";

    const std::string etag = "\"" + hexDigest(feed, 16) + "\"";
    // If-None-Match decides alone when sent; the date is only a second's.
    bool unchanged = !input.ifNoneMatch.empty() ? namesTag(input.ifNoneMatch, etag) : false;
    if (input.ifNoneMatch.empty() && !input.ifModifiedSince.empty()) {
        std::time_t since = parseHttpDate(input.ifModifiedSince);
        unchanged = since >= 0 && lastModified <= since;
    }
    std::string headers;
    if (unchanged) headers += "Status: 304 Not Modified\n";
    headers += "Content-type: application/atom+xml; charset=utf-8\n";
    headers += "ETag: " + etag + "\n";
    headers += "Last-Modified: " + httpDate(lastModified) + "\n\n";
    append(response, headers);
    if (!unchanged) append(response, feed);
    return 0;
}
