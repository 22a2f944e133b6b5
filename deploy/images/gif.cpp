#include "gif.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kMaxCode = 4095;  // GIF codes are at most 12 bits

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void put(int code, int size) {
        buffer_ |= static_cast<std::uint32_t>(code) << filled_;
        filled_ += size;
        while (filled_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }
    void finish() {
        if (filled_ > 0) out_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
        buffer_ = 0;
        filled_ = 0;
    }

private:
    std::vector<std::uint8_t>& out_;
    std::uint32_t buffer_ = 0;
    int filled_ = 0;
};

void putWord(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// Smallest n >= 1 with 2^n >= count.
int paletteBits(std::size_t count) {
    int bits = 1;
    while ((std::size_t{1} << bits) < count) ++bits;
    return bits;
}

}  // namespace

std::vector<std::uint8_t> lzwEncode(const std::vector<std::uint8_t>& pixels, int minCodeSize) {
    if (minCodeSize < 2 || minCodeSize > 8) throw std::invalid_argument("LZW minimum code size must be 2..8");
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    std::vector<std::uint8_t> out;
    BitWriter bits(out);

    // Child code of (prefix code, next byte), -1 when not in the table.
    std::vector<std::int16_t> table(static_cast<std::size_t>(kMaxCode + 1) * 256, -1);
    int nextCode = endCode + 1;
    int codeSize = minCodeSize + 1;
    auto reset = [&] {
        std::fill(table.begin(), table.end(), -1);
        nextCode = endCode + 1;
        codeSize = minCodeSize + 1;
    };

    bits.put(clearCode, codeSize);
    if (!pixels.empty()) {
        int prefix = pixels[0];
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const std::uint8_t byte = pixels[i];
            std::int16_t& child = table[static_cast<std::size_t>(prefix) * 256 + byte];
            if (child >= 0) {
                prefix = child;
                continue;
            }
            bits.put(prefix, codeSize);
            if (nextCode <= kMaxCode) {
                child = static_cast<std::int16_t>(nextCode++);
                // The decoder adds each entry one code later than we do,
                // so the width grows once the last code given out needs it.
                if (nextCode - 1 >= (1 << codeSize) && codeSize < 12) ++codeSize;
            } else {
                bits.put(clearCode, codeSize);
                reset();
            }
            prefix = byte;
        }
        bits.put(prefix, codeSize);
    }
    bits.put(endCode, codeSize);
    bits.finish();
    return out;
}

std::vector<std::uint8_t> encodeGif(const GifPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 || picture.width > 0xFFFF || picture.height > 0xFFFF)
        throw std::invalid_argument("picture size out of range");
    if (picture.palette.size() < 2 || picture.palette.size() > 256) throw std::invalid_argument("palette needs 2..256 colours");
    if (picture.frames.empty()) throw std::invalid_argument("picture without frames");
    const std::size_t area = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    for (const GifFrame& frame : picture.frames) {
        if (frame.pixels.size() != area) throw std::invalid_argument("frame has the wrong number of pixels");
        for (std::uint8_t index : frame.pixels)
            if (index >= picture.palette.size()) throw std::invalid_argument("pixel outside the palette");
    }
    if (picture.transparentIndex >= static_cast<int>(picture.palette.size()))
        throw std::invalid_argument("transparent index outside the palette");

    const int bits = paletteBits(picture.palette.size());
    const int tableSize = 1 << bits;
    std::vector<std::uint8_t> out{'G', 'I', 'F', '8', '9', 'a'};
    putWord(out, picture.width);
    putWord(out, picture.height);
    out.push_back(static_cast<std::uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));  // global table
    out.push_back(0);  // background colour
    out.push_back(0);  // no aspect ratio
    for (int i = 0; i < tableSize; ++i) {
        Rgb colour = i < static_cast<int>(picture.palette.size()) ? picture.palette[i] : Rgb{0, 0, 0};
        out.push_back(colour.r);
        out.push_back(colour.g);
        out.push_back(colour.b);
    }

    const bool animated = picture.frames.size() > 1;
    if (animated) {
        // Application extension: loop for ever.
        const char id[] = "NETSCAPE2.0";
        out.push_back(0x21);
        out.push_back(0xFF);
        out.push_back(11);
        out.insert(out.end(), id, id + 11);
        out.push_back(3);
        out.push_back(1);
        putWord(out, 0);
        out.push_back(0);
    }

    const int minCodeSize = bits < 2 ? 2 : bits;
    for (const GifFrame& frame : picture.frames) {
        if (animated || picture.transparentIndex >= 0) {
            out.push_back(0x21);
            out.push_back(0xF9);
            out.push_back(4);
            std::uint8_t flags = picture.transparentIndex >= 0 ? 1 : 0;
            if (animated) flags |= 1 << 2;  // leave each frame in place
            out.push_back(flags);
            putWord(out, frame.delayCentiseconds);
            out.push_back(static_cast<std::uint8_t>(picture.transparentIndex >= 0 ? picture.transparentIndex : 0));
            out.push_back(0);
        }
        out.push_back(0x2C);
        putWord(out, 0);
        putWord(out, 0);
        putWord(out, picture.width);
        putWord(out, picture.height);
        out.push_back(0);  // no local table, not interlaced
        out.push_back(static_cast<std::uint8_t>(minCodeSize));
        std::vector<std::uint8_t> data = lzwEncode(frame.pixels, minCodeSize);
        for (std::size_t at = 0; at < data.size(); at += 255) {
            std::size_t length = data.size() - at < 255 ? data.size() - at : 255;
            out.push_back(static_cast<std::uint8_t>(length));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + length));
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

bool writeGif(const std::string& path, const GifPicture& picture, bool replace) {
    std::vector<std::uint8_t> bytes = encodeGif(picture);
    // A fresh file beside the target, then one step into place: a reader never
    // sees half a picture, and a link at `path` is replaced, not followed.
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool written = ::fchmod(fd, 0644) == 0;
    std::size_t done = 0;
    while (written && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) written = false;
        else done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) written = false;
    bool placed = false;
    if (written) {
        if (replace) {
            placed = ::rename(temporary.c_str(), path.c_str()) == 0;
        } else {
            placed = ::link(temporary.c_str(), path.c_str()) == 0;
            if (!placed && errno == EEXIST) {
                ::unlink(temporary.c_str());
                return true;
            }
        }
    }
    if (!placed || !replace) ::unlink(temporary.c_str());
    return placed;
}
