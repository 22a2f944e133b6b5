// A small GIF89a writer: indexed pictures, LZW-compressed, optionally
// several frames that loop forever.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    std::uint8_t r, g, b;
};

struct GifFrame {
    std::vector<std::uint8_t> pixels;  // width * height palette indices, row by row
    int delayCentiseconds = 0;
};

struct GifPicture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> palette;          // 2 to 256 colours
    std::vector<GifFrame> frames;      // one for a still picture
    int transparentIndex = -1;         // -1: none
};

// LZW code stream of `pixels` for the given minimum code size, as the GIF
// image data carries it (before being cut into sub-blocks).
std::vector<std::uint8_t> lzwEncode(const std::vector<std::uint8_t>& pixels, int minCodeSize);

// The whole file. Throws std::invalid_argument for a picture that cannot be
// written (no frames, pixels of the wrong count or outside the palette...).
std::vector<std::uint8_t> encodeGif(const GifPicture& picture);

// Writes encodeGif(picture) to `path` (mode 0644) through a temporary file
// beside it. With `replace` false a file already at `path` is kept as it is
// (and counts as success). False when the picture cannot be put in place.
bool writeGif(const std::string& path, const GifPicture& picture, bool replace = true);
