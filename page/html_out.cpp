#include "page/html_out.h"

#include <cstdio>
#include <cstring>

#include "page/response.h"

namespace {

void appendEscaped(std::string& out, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        switch (text[i]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += text[i];
        }
    }
}

}  // namespace

std::string escapeHtml(const char* text, std::size_t length) {
    std::string escaped;
    escaped.reserve(length);
    appendEscaped(escaped, text, length);
    return escaped;
}

OutPiece::OutPiece(const char* text) : kind_(Kind::Text), text_(text ? text : ""), length_(std::strlen(text_)) {}

void OutPiece::appendTo(std::string& out, int width) const {
    const std::size_t start = out.size();
    switch (kind_) {
        case Kind::Raw: out.append(text_, length_); break;
        case Kind::Text: appendEscaped(out, text_, length_); break;
        case Kind::Number: {
            char digits[16];
            int length = std::snprintf(digits, sizeof digits, "%d", number_);
            out.append(digits, static_cast<std::size_t>(length));
            break;
        }
    }
    const std::size_t written = out.size() - start;
    if (width > 0 && written < static_cast<std::size_t>(width)) {
        out.insert(start, static_cast<std::size_t>(width) - written, ' ');
    }
}

void PageOut::markup(const Markup& markup) { response_.append(markup.html().data(), markup.html().size()); }

void PageOut::write(const char* format, const OutPiece* pieces, std::size_t count) {
    std::string& out = line_;
    out.clear();
    std::size_t next = 0;
    const char* p = format;
    while (*p) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<std::size_t>(percent - p));
        p = percent + 1;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        if (*p == 's' || *p == 'd') ++p;
        if (next < count) pieces[next++].appendTo(out, width);
    }
    response_.append(out.data(), out.size());
}
