#include "config/site_config.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "config/config_lines.h"
#include "text/decimal.h"

namespace {

// The board number a line's first word names: only its plain decimal
// spelling ("3", never "03" or "+3"), as the request's number is written.
bool boardNumberWord(const char* word, int* number) {
    int value = decimalValue(word);
    char canonical[16];
    std::snprintf(canonical, sizeof canonical, "%d", value);
    if (std::strcmp(canonical, word) != 0) return false;
    *number = value;
    return true;
}

std::string boardDirectory(const std::string& bbsDir, int number, bool* tooLong) {
    char dir[kConfigLineSize];
    int needed = std::snprintf(dir, sizeof dir, "%s%d/", bbsDir.c_str(), number);
    // A cut directory would name another board's files.
    *tooLong = needed < 0 || static_cast<std::size_t>(needed) >= sizeof dir;
    return *tooLong ? std::string() : std::string(dir);
}

}  // namespace

bool BoardSettings::fits(const char* name) const { return dir.size() + std::strlen(name) < kConfigLineSize; }

void SiteConfig::noteFault(const char* key, const char* value) {
    faults.push_back("line " + std::to_string(lines_) + ": " + key + " " + value);
}

void SiteConfig::readLine(char* line) {
    ++lines_;
    if (line[0] == '\0' || line[0] == '#') return;
    // A TRUSTED_PROXY line cut at the buffer could end in a shortened,
    // other address: nothing of it is trusted.
    bool mayBeCut = std::strlen(line) >= kConfigLineSize - 2;
    ConfigLineReader reader;
    char word[kConfigLineSize] = "";
    reader.takeWord(word, sizeof word, line);
    int number = 0;
    bool understood = true;
    if (std::strcmp(word, "BASE_DIR") == 0) {
        baseDir = line;
    } else if (std::strcmp(word, "BBS_DIR") == 0) {
        bbsDir = line;
    } else if (std::strcmp(word, "ERASE_DOMAIN") == 0) {
        eraseDomain = line;
    } else if (std::strcmp(word, "EMAIL") == 0) {
        email = line;
        emailSequence_ = lines_;
    } else if (std::strcmp(word, "Password") == 0) {
        password = line;
    } else if (std::strcmp(word, "TRUSTED_PROXY") == 0) {
        if (!mayBeCut) trustedProxies.addAll(line);
    } else if (std::strcmp(word, "EVENT_LOG") == 0) {
        eventLog = line;
        if (eventLog.empty() || std::strpbrk(line, " \t")) noteFault(word, line);
    } else if (std::strcmp(word, "STATUS_CODES") == 0) {
        statusCodes = std::strcmp(line, "on") == 0;
        if (!statusCodes && std::strcmp(line, "off") != 0) noteFault(word, line);
    } else if (std::strcmp(word, "PHONE_PAGES") == 0) {
        phonePages = std::strcmp(line, "on") == 0;
        if (!phonePages && std::strcmp(line, "off") != 0) noteFault(word, line);
    } else if (std::strcmp(word, "ADDRESS_SHOWN") == 0) {
        // A mistyped word is refused, and until mended hides more rather
        // than less.
        addressShown = std::strcmp(line, "whole") == 0    ? AddressShown::Whole
                       : std::strcmp(line, "hidden") == 0 ? AddressShown::Hidden
                                                          : AddressShown::Masked;
        if (addressShown == AddressShown::Masked && std::strcmp(line, "masked") != 0) noteFault(word, line);
    } else if (std::strcmp(word, "FEED") == 0) {
        feed = std::strcmp(line, "on") == 0;
        if (!feed && std::strcmp(line, "off") != 0) noteFault(word, line);
    } else if (std::strcmp(word, "TITLE") == 0) {
        char board[kConfigLineSize] = "";
        reader.takeWord(board, sizeof board, line);
        if (boardNumberWord(board, &number)) titles[number] = line;
    } else if (spam.readLine(word, line, &understood)) {
        if (!understood) noteFault(word, line);
    } else if (boardNumberWord(word, &number)) {
        char image[kConfigLineSize] = "";
        char mail[kConfigLineSize] = "";
        reader.takeWord(image, sizeof image, line);
        reader.takeWord(mail, sizeof mail, line);
        boardLines_.push_back(BoardLine{lines_, word, image, mail, bbsDir});
    }
}

BoardSettings SiteConfig::board(int number) const {
    BoardSettings settings;
    char written[16];
    std::snprintf(written, sizeof written, "%d", number);
    int mailSequence = -1;
    for (const BoardLine& line : boardLines_) {
        if (line.number != written) continue;
        settings.titleImage = line.titleImage;
        settings.dir = boardDirectory(line.bbsDir, number, &settings.dirTooLong);
        if (!line.mail.empty()) {
            settings.email = line.mail;
            mailSequence = line.sequence;
        }
    }
    if (mailSequence < emailSequence_ || mailSequence < 0) settings.email = email;
    return settings;
}

std::map<int, BoardSettings> SiteConfig::boards() const {
    std::map<int, BoardSettings> all;
    for (const BoardLine& line : boardLines_) {
        int number = decimalValue(line.number.c_str());
        if (!all.count(number)) all[number] = board(number);
    }
    return all;
}

namespace {

void readLines(std::FILE* in, SiteConfig* config) {
    ConfigLineReader reader;
    char line[kConfigLineSize] = "";
    int atEnd = reader.readLine(line, sizeof line, in);
    // The last line, met by the end of the file, is not a line: only lines
    // ended by a newline count.
    while (!atEnd) {
        config->readLine(line);
        atEnd = reader.readLine(line, sizeof line, in);
    }
    // A file that breaks off in a read error is no configuration: its
    // missing lines could be a board's directory or the password.
    config->status = std::ferror(in) ? SiteConfig::Status::ReadError : SiteConfig::Status::Read;
}

}  // namespace

SiteConfig readSiteConfig(const char* path) {
    SiteConfig config;
    std::FILE* in = std::fopen(path, "re");
    if (!in) return config;
    readLines(in, &config);
    std::fclose(in);
    return config;
}

namespace {

constexpr std::time_t kSettledSeconds = 2;

}  // namespace

const SiteConfig& SiteConfigCache::current() {
    struct stat now;
    if (valid_ && ::stat(path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_ &&
        now.st_size == size_ && now.st_mtim.tv_sec == modified_.tv_sec && now.st_mtim.tv_nsec == modified_.tv_nsec &&
        now.st_ctim.tv_sec == changed_.tv_sec && now.st_ctim.tv_nsec == changed_.tv_nsec) {
        return config_;
    }
    valid_ = false;
    config_ = SiteConfig();
    std::FILE* in = std::fopen(path_.c_str(), "re");
    if (!in) return config_;
    // The status is taken before the reading: a change made while it reads
    // shows in the next request's status.
    struct stat read;
    bool known = ::fstat(fileno(in), &read) == 0;
    readLines(in, &config_);
    std::fclose(in);
    ++reads_;
    // A file changed within the clock's last tick could change again with
    // the same size and times: kept only once it is a little older.
    const std::time_t newest = read.st_mtim.tv_sec > read.st_ctim.tv_sec ? read.st_mtim.tv_sec : read.st_ctim.tv_sec;
    if (known && config_.status == SiteConfig::Status::Read && std::time(nullptr) - newest >= kSettledSeconds) {
        valid_ = true;
        device_ = read.st_dev;
        inode_ = read.st_ino;
        size_ = read.st_size;
        modified_ = read.st_mtim;
        changed_ = read.st_ctim;
    }
    return config_;
}
