// The pages' one way to write HTML. Whatever a page passes as text is
// escaped on the way out; bytes go out as they are only as Markup, which
// only the escapers and the markup filter make, and a page's own fixed
// markup through Markup::raw, whose name says so.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

class Response;

// HTML that is already safe where the page puts it.
class Markup {
public:
    Markup() = default;
    // The bytes as they are: for the markup filter's result, the escapers'
    // and the pages' own constant markup. Nothing a visitor, a file or the
    // configuration wrote comes through here unfiltered.
    static Markup raw(std::string html) { return Markup(std::move(html)); }

    const std::string& html() const { return html_; }
    bool empty() const { return html_.empty(); }

private:
    explicit Markup(std::string html) : html_(std::move(html)) {}
    std::string html_;
};

// "&", "<", ">" and the quotation mark as character references; all other
// bytes as they are.
std::string escapeHtml(const char* text, std::size_t length);

// One argument of PageOut::put, as it goes out.
class OutPiece {
public:
    OutPiece(const Markup& markup) : kind_(Kind::Raw), text_(markup.html().data()), length_(markup.html().size()) {}
    OutPiece(const std::string& text) : kind_(Kind::Text), text_(text.data()), length_(text.size()) {}
    OutPiece(const char* text);
    OutPiece(int number) : kind_(Kind::Number), number_(number) {}

    // Appends this piece to `out`, padded on the left to `width` bytes.
    void appendTo(std::string& out, int width) const;

private:
    enum class Kind { Raw, Text, Number };
    Kind kind_;
    const char* text_ = nullptr;
    std::size_t length_ = 0;
    int number_ = 0;
};

// A page's writer, bound to the response it was handed.
class PageOut {
public:
    explicit PageOut(Response& response) : response_(response) {}
    PageOut(const PageOut&) = delete;
    PageOut& operator=(const PageOut&) = delete;

    // Writes `format` with each "%s" (or "%4s": padded to four bytes on the
    // left) replaced by the next argument: a text escaped, a number in
    // decimal, Markup as it is. "%%" is one "%". The format is the page's
    // own markup; an argument count that does not match is a fault of the
    // page, and a missing argument prints nothing.
    template <typename... Args>
    void put(const char* format, const Args&... args) {
        const OutPiece pieces[] = {OutPiece(args)..., OutPiece(Markup())};
        write(format, pieces, sizeof...(Args));
    }

    // Bytes that are already HTML, as they are.
    void markup(const Markup& markup);

    // The page's status line and headers, before its first byte of HTML.
    Response& response() { return response_; }

private:
    void write(const char* format, const OutPiece* pieces, std::size_t count);
    Response& response_;
    // Each put's bytes, gathered before they join the response; its room
    // is kept from one put to the next.
    std::string line_;
};
