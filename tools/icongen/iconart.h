// Reads the text descriptions in resources/icons and turns them into Windows .ico files.
//
// A description is a line-oriented text file:
//
//   # comment (any line whose first non-blank character is '#'; blank lines are ignored too)
//   colour .  transparent
//   colour K  #000000
//   colour a  #FFC66B  disabled #B5B5B5
//   image 16
//   ................          <- exactly 16 rows of exactly 16 declared characters
//   ...
//   output tray_enabled.ico   enabled
//   output tray_disabled.ico  disabled upto 48
//   image 64 from 32          <- the 32 drawn above, each pixel repeated twice across and down
//
// Colours are declared before the images that use them. The "disabled" colour of an entry is what
// that colour becomes in the greyed pictures; those pictures are never drawn by hand but derived
// from the enabled ones, so the two sets cannot drift apart.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vos::icongen {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    auto operator<=>(const Rgb&) const = default;
};

// A square picture, top row first; an empty pixel is transparent.
struct Image {
    int size = 0;
    std::vector<std::optional<Rgb>> pixels;

    const std::optional<Rgb>& at(int x, int y) const { return pixels[y * size + x]; }
};

enum class Variant { enabled, disabled };

struct Output {
    std::string file;  // a bare file name; the generator decides the folder
    Variant variant = Variant::enabled;
    int largest = 256;  // images larger than this are left out of the file
};

struct Artwork {
    std::vector<Image> images;  // ascending by size
    std::map<Rgb, Rgb> disabled_colours;
    std::vector<Output> outputs;
};

// Thrown for a malformed description; what() starts with "line N: ".
class ParseError : public std::runtime_error {
  public:
    ParseError(int line, const std::string& message);
    int line() const { return line_; }

  private:
    int line_;
};

Artwork parse_artwork(std::string_view text);

Image with_colours_replaced(const Image& image, const std::map<Rgb, Rgb>& replacements);

// The pictures an output file holds: the images up to its largest size, or their greyed copies.
std::vector<Image> images_for(const Artwork& artwork, const Output& output);

// One 8-bit palettised entry per image. Palette index 0 is black and also what transparent pixels
// carry, so the AND mask alone decides transparency; the remaining colours are numbered in the
// order they first appear, which keeps the output byte-for-byte reproducible.
std::vector<std::uint8_t> encode_ico(const std::vector<Image>& images);

}  // namespace vos::icongen
