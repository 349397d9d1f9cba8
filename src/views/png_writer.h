#pragma once
// A small PNG writer for the pictures the analysis draws: 8-bit indices into a palette when
// the picture has at most 256 colours, else 8-bit RGB with each row filtered by its left
// neighbour (filter "Sub"); no interlace; compressed with zlib.

#include <cstdint>
#include <string>

namespace sonavel {

// The largest width and height WritePng takes.
inline constexpr int kMaxPngSide = 8192;

// Writes the width × height `pixels` (0xFFRRGGBB, row after row from the top) to `path`
// through a ReplacingFile, so an existing file is replaced only by a complete picture.
// False when the size is out of range or the file could not be written.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height);

}  // namespace sonavel
