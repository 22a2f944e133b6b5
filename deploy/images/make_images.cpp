// Draws the images that the board's pages name and writes them as GIF
// files into the directory given as the only argument.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gif.h"

namespace {

// Palette shared by every picture; index 0 is the page white.
enum Colour : std::uint8_t {
    White, Black, Grey, LightGrey, Navy, Blue, SkyBlue, PaleBlue,
    Teal, PaleTeal, Brown, Tan, Cream, Red, Gold, DarkGreen,
};

const std::vector<Rgb> kPalette = {
    {255, 255, 255}, {40, 40, 40}, {120, 120, 120}, {205, 205, 205},
    {30, 50, 120}, {50, 90, 200}, {120, 170, 235}, {215, 230, 250},
    {40, 120, 130}, {208, 238, 237}, {120, 70, 30}, {200, 160, 110},
    {240, 240, 224}, {200, 40, 40}, {230, 180, 40}, {46, 139, 87},
};

class Canvas {
public:
    Canvas(int width, int height, std::uint8_t fill = White)
        : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, fill) {}

    void set(int x, int y, std::uint8_t colour) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[static_cast<std::size_t>(y) * width_ + x] = colour;
    }
    void fill(int x, int y, int w, int h, std::uint8_t colour) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) set(i, j, colour);
    }
    void frame(int x, int y, int w, int h, std::uint8_t colour) {
        fill(x, y, w, 1, colour);
        fill(x, y + h - 1, w, 1, colour);
        fill(x, y, 1, h, colour);
        fill(x + w - 1, y, 1, h, colour);
    }
    void line(int x0, int y0, int x1, int y1, std::uint8_t colour) {
        int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int s = 0; s <= steps; ++s) {
            double t = steps ? static_cast<double>(s) / steps : 0;
            set(static_cast<int>(std::lround(x0 + t * (x1 - x0))), static_cast<int>(std::lround(y0 + t * (y1 - y0))), colour);
        }
    }
    // Filled triangle, by testing each pixel centre against the three edges.
    void triangle(int ax, int ay, int bx, int by, int cx, int cy, std::uint8_t colour) {
        auto side = [](double px, double py, double qx, double qy, double x, double y) {
            return (qx - px) * (y - py) - (qy - py) * (x - px);
        };
        int minX = std::min({ax, bx, cx}), maxX = std::max({ax, bx, cx});
        int minY = std::min({ay, by, cy}), maxY = std::max({ay, by, cy});
        for (int y = minY; y <= maxY; ++y)
            for (int x = minX; x <= maxX; ++x) {
                double d1 = side(ax, ay, bx, by, x, y), d2 = side(bx, by, cx, cy, x, y), d3 = side(cx, cy, ax, ay, x, y);
                bool negative = d1 < 0 || d2 < 0 || d3 < 0, positive = d1 > 0 || d2 > 0 || d3 > 0;
                if (!(negative && positive)) set(x, y, colour);
            }
    }
    // Text in the 5x7 pixel font, each font pixel drawn as scale x scale.
    void text(int x, int y, const char* label, std::uint8_t colour, int scale = 1);
    static int textWidth(const char* label, int scale = 1) {
        int n = static_cast<int>(std::strlen(label));
        return n ? (n * 6 - 1) * scale : 0;
    }

    GifFrame toFrame(int delay = 0) const { return GifFrame{pixels_, delay}; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

// 5x7 glyphs, one string of seven rows each, '#' for ink.
struct Glyph {
    char letter;
    const char* rows[7];
};

const Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
};

void Canvas::text(int x, int y, const char* label, std::uint8_t colour, int scale) {
    for (const char* c = label; *c; ++c, x += 6 * scale) {
        for (const Glyph& glyph : kFont) {
            if (glyph.letter != *c) continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (glyph.rows[row][col] == '#') fill(x + col * scale, y + row * scale, scale, scale, colour);
        }
    }
}

GifPicture still(const Canvas& canvas, int transparent = -1) {
    GifPicture picture;
    picture.width = canvas.width();
    picture.height = canvas.height();
    picture.palette = kPalette;
    picture.frames.push_back(canvas.toFrame());
    picture.transparentIndex = transparent;
    return picture;
}

// A rounded button with a label and an optional arrow in front of it.
enum class Arrow { None, Left, Right, Up, Down };

Canvas button(const char* label, Arrow arrow, std::uint8_t face, std::uint8_t ink) {
    const int arrowWidth = arrow == Arrow::None ? 0 : 12;
    const int width = Canvas::textWidth(label) + arrowWidth + 14;
    Canvas c(width, 20);
    c.fill(1, 0, width - 2, 20, face);
    c.fill(0, 1, width, 18, face);
    c.frame(1, 1, width - 2, 18, ink);
    const int ax = 6, cy = 10;
    switch (arrow) {
    case Arrow::Left: c.triangle(ax, cy, ax + 8, cy - 5, ax + 8, cy + 5, ink); break;
    case Arrow::Right: c.triangle(ax + 8, cy, ax, cy - 5, ax, cy + 5, ink); break;
    case Arrow::Up: c.triangle(ax + 4, cy - 5, ax, cy + 4, ax + 8, cy + 4, ink); break;
    case Arrow::Down: c.triangle(ax + 4, cy + 5, ax, cy - 4, ax + 8, cy - 4, ink); break;
    case Arrow::None: break;
    }
    c.text(7 + arrowWidth, 7, label, ink);
    return c;
}

Canvas bookAndPen() {
    Canvas c(64, 48);
    // Open book: two pages meeting at the spine.
    c.triangle(4, 18, 31, 22, 31, 44, Cream);
    c.triangle(4, 18, 4, 40, 31, 44, Cream);
    c.triangle(58, 18, 32, 22, 32, 44, Cream);
    c.triangle(58, 18, 58, 40, 32, 44, Cream);
    c.line(4, 18, 31, 22, Brown);
    c.line(4, 40, 31, 44, Brown);
    c.line(4, 18, 4, 40, Brown);
    c.line(58, 18, 32, 22, Brown);
    c.line(58, 40, 32, 44, Brown);
    c.line(58, 18, 58, 40, Brown);
    c.line(31, 22, 31, 44, Brown);
    c.line(32, 22, 32, 44, Brown);
    for (int row = 0; row < 4; ++row) {
        c.line(8, 24 + row * 4, 27, 27 + row * 4, Grey);
        c.line(36, 27 + row * 4, 54, 24 + row * 4, Grey);
    }
    // Pen lying across the right page.
    for (int w = 0; w < 3; ++w) c.line(40 + w, 4, 56 + w, 26, Navy);
    c.triangle(55, 25, 59, 25, 59, 32, Gold);
    c.line(40, 4, 42, 4, Red);
    return c;
}

// The site's icon (/favicon.ico): the open book alone, filling 32 pixels.
Canvas siteIcon() {
    Canvas c(32, 32);
    c.triangle(1, 6, 15, 9, 15, 29, Cream);
    c.triangle(1, 6, 1, 26, 15, 29, Cream);
    c.triangle(30, 6, 16, 9, 16, 29, Cream);
    c.triangle(30, 6, 30, 26, 16, 29, Cream);
    c.line(1, 6, 15, 9, Brown);
    c.line(1, 26, 15, 29, Brown);
    c.line(1, 6, 1, 26, Brown);
    c.line(30, 6, 16, 9, Brown);
    c.line(30, 26, 16, 29, Brown);
    c.line(30, 6, 30, 26, Brown);
    c.line(15, 9, 15, 29, Brown);
    c.line(16, 9, 16, 29, Brown);
    for (int row = 0; row < 4; ++row) {
        c.line(4, 12 + row * 4, 12, 14 + row * 4, Navy);
        c.line(19, 14 + row * 4, 27, 12 + row * 4, Navy);
    }
    return c;
}

GifPicture animatedLine() {
    const int width = 420, height = 6, frames = 8;
    GifPicture picture;
    picture.width = width;
    picture.height = height;
    picture.palette = kPalette;
    for (int f = 0; f < frames; ++f) {
        Canvas c(width, height);
        c.fill(0, 2, width, 2, SkyBlue);
        // A bright bar that travels along the rule.
        int start = f * width / frames;
        c.fill(start, 1, width / frames, 4, Blue);
        c.fill(start + width / frames / 3, 0, width / frames / 3, 6, Navy);
        picture.frames.push_back(c.toFrame(12));
    }
    return picture;
}

Canvas rule(int width, int height, std::uint8_t edge, std::uint8_t middle) {
    Canvas c(width, height);
    c.fill(0, 0, width, height, edge);
    if (height > 2) c.fill(0, 1, width, height - 2, middle);
    return c;
}

Canvas titleBanner(const char* label) {
    Canvas c(200, 60, PaleTeal);
    c.frame(0, 0, 200, 60, Teal);
    c.frame(3, 3, 194, 54, Teal);
    // Long board numbers get smaller letters so that they stay inside the frame.
    int scale = 3;
    while (scale > 1 && Canvas::textWidth(label, scale) > 184) --scale;
    int w = Canvas::textWidth(label, scale);
    int y = 30 - 7 * scale / 2;
    c.text((200 - w) / 2 + 1, y + 1, label, Grey, scale);
    c.text((200 - w) / 2, y, label, Navy, scale);
    return c;
}

bool isBoardNumber(const char* text) {
    std::size_t n = std::strlen(text);
    if (n == 0 || n > 10 || (n > 1 && text[0] == '0')) return false;
    for (const char* p = text; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return std::strtoll(text, nullptr, 10) <= 2147483647;
}

// Only names the web server serves from Image/.
bool isImageName(const char* text) {
    std::size_t n = std::strlen(text);
    if (n < 5 || std::strcmp(text + n - 4, ".gif") != 0) return false;
    for (std::size_t i = 0; i + 4 < n; ++i) {
        char c = text[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
}

}  // namespace

// make_images IMAGE_DIR [BOARD TITLE_IMAGE]...
// The buttons and rules are drawn afresh each time. Each board's title image
// is drawn only when IMAGE_DIR has none of that name: the owner's own stays.
// Without boards, board 1's title1.gif is drawn.
int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s IMAGE_DIR [BOARD TITLE_IMAGE]...\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    std::vector<const char*> titles = {"1", "title1.gif"};
    if (argc > 2) titles.assign(argv + 2, argv + argc);
    for (std::size_t i = 0; i < titles.size(); i += 2) {
        if (!isBoardNumber(titles[i]) || !isImageName(titles[i + 1])) {
            std::fprintf(stderr, "not a board and its title image: %s %s\n", titles[i], titles[i + 1]);
            return 2;
        }
    }
    struct Output {
        const char* name;
        GifPicture picture;
    };
    const Output outputs[] = {
        {"posting.gif", still(button("WRITE", Arrow::None, PaleBlue, Navy))},
        {"before.gif", still(button("BACK", Arrow::Left, PaleBlue, Navy))},
        {"leftarrow.gif", still(button("OLDER", Arrow::Left, PaleTeal, Teal))},
        {"prev.gif", still(button("PREV", Arrow::Up, PaleTeal, Teal))},
        {"up.gif", still(button("LIST", Arrow::None, PaleTeal, Teal))},
        {"next.gif", still(button("NEXT", Arrow::Down, PaleTeal, Teal))},
        {"bookpen.gif", still(bookAndPen(), White)},
        {"line.gif", still(rule(500, 3, Teal, PaleTeal))},
        {"blue_line.gif", still(rule(420, 3, Blue, SkyBlue))},
        {"line_ani.gif", animatedLine()},
        {"favicon.gif", still(siteIcon(), White)},
    };
    int failed = 0;
    for (const Output& output : outputs) {
        if (!writeGif(dir + output.name, output.picture)) {
            std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), output.name);
            failed = 1;
        }
    }
    for (std::size_t i = 0; i < titles.size(); i += 2) {
        const std::string label = std::string("BOARD ") + titles[i];
        if (!writeGif(dir + titles[i + 1], still(titleBanner(label.c_str())), false)) {
            std::fprintf(stderr, "cannot write %s%s\n", dir.c_str(), titles[i + 1]);
            failed = 1;
        }
    }
    return failed;
}
