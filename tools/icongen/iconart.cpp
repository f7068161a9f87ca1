#include "tools/icongen/iconart.h"

#include <algorithm>
#include <charconv>
#include <cstddef>

namespace vos::icongen {

ParseError::ParseError(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}

namespace {

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words_of(std::string_view s) {
    std::vector<std::string_view> words;
    while (true) {
        s = trim(s);
        if (s.empty()) return words;
        const std::size_t end = std::min(s.find_first_of(" \t"), s.size());
        words.push_back(s.substr(0, end));
        s.remove_prefix(end);
    }
}

std::optional<Rgb> parse_hex_colour(std::string_view token) {
    if (token.size() != 7 || token[0] != '#') return std::nullopt;
    std::uint8_t channel[3];
    for (int i = 0; i < 3; ++i) {
        const char* first = token.data() + 1 + 2 * i;
        const auto [end, error] = std::from_chars(first, first + 2, channel[i], 16);
        if (error != std::errc() || end != first + 2) return std::nullopt;
    }
    return Rgb{channel[0], channel[1], channel[2]};
}

// Output names end up joined to a folder, so anything that could climb out of it is refused.
bool is_bare_file_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\:") == std::string_view::npos;
}

class Parser {
  public:
    Artwork run(std::string_view text) {
        while (!text.empty()) {
            const std::size_t end = std::min(text.find('\n'), text.size());
            ++line_;
            take(trim(text.substr(0, end)));
            text.remove_prefix(std::min(end + 1, text.size()));
        }
        if (rows_left_ > 0) {
            throw ParseError(image_line_, "image " + std::to_string(art_.images.back().size) +
                                              " ends after " + std::to_string(rows_done()) +
                                              " rows");
        }
        if (art_.images.empty()) throw ParseError(line_, "no image is drawn");
        if (art_.outputs.empty()) throw ParseError(line_, "no output file is named");
        std::sort(art_.images.begin(), art_.images.end(),
                  [](const Image& a, const Image& b) { return a.size < b.size; });
        return std::move(art_);
    }

  private:
    void take(std::string_view line) {
        if (line.empty() || line.front() == '#') return;
        if (rows_left_ > 0) return take_row(line);
        const auto words = words_of(line);
        if (words[0] == "colour") return take_colour(words);
        if (words[0] == "image") return take_image(words);
        if (words[0] == "output") return take_output(words);
        fail("unknown keyword '" + std::string(words[0]) + "'");
    }

    void take_row(std::string_view row) {
        Image& image = art_.images.back();
        if (static_cast<int>(row.size()) != image.size) {
            fail("row is " + std::to_string(row.size()) + " pixels wide, image is " +
                 std::to_string(image.size));
        }
        for (const char c : row) {
            const auto colour = palette_.find(c);
            if (colour == palette_.end()) fail(std::string("'") + c + "' is not a declared colour");
            image.pixels.push_back(colour->second);
        }
        --rows_left_;
    }

    void take_colour(const std::vector<std::string_view>& words) {
        if (words.size() != 3 && words.size() != 5) {
            fail("expected: colour <char> <#RRGGBB|transparent> [disabled <#RRGGBB>]");
        }
        // '#' would make a row look like a comment.
        if (words[1].size() != 1 || words[1][0] == '#') fail("a colour is named by one character");
        const char name = words[1][0];
        if (palette_.count(name) != 0) fail(std::string("'") + name + "' is declared twice");

        std::optional<Rgb> colour;
        if (words[2] != "transparent") {
            colour = parse_hex_colour(words[2]);
            if (!colour) fail("'" + std::string(words[2]) + "' is not a #RRGGBB colour");
        }
        if (words.size() == 5) {
            if (words[3] != "disabled") fail("expected 'disabled' after the colour");
            if (!colour) fail("transparency has no disabled colour");
            const auto greyed = parse_hex_colour(words[4]);
            if (!greyed) fail("'" + std::string(words[4]) + "' is not a #RRGGBB colour");
            const auto [known, added] = art_.disabled_colours.emplace(*colour, *greyed);
            if (!added && known->second != *greyed) fail("colour already has another disabled one");
        }
        palette_.emplace(name, colour);
    }

    // "image N" is drawn in the N rows that follow; "image N from M" is the image of size M,
    // already drawn, with every pixel repeated N/M times across and down. The large sizes
    // Explorer shows keep the pixel style of the small ones without drawing 65 536 pixels.
    void take_image(const std::vector<std::string_view>& words) {
        const int size = words.size() == 2 || words.size() == 4 ? size_in(words[1]) : 0;
        const int from = words.size() == 4 && words[2] == "from" ? size_in(words[3]) : 0;
        if (size == 0 || (words.size() == 4 && from == 0)) {
            fail("expected: image <size from 1 to 256> [from <drawn size>]");
        }
        for (const Image& drawn : art_.images) {
            if (drawn.size == size) fail("image " + std::to_string(size) + " is drawn twice");
        }
        if (from != 0) return art_.images.push_back(scaled(source(from), size));
        art_.images.push_back(Image{size, {}});
        art_.images.back().pixels.reserve(static_cast<std::size_t>(size) * size);
        rows_left_ = size;
        image_line_ = line_;
    }

    // 1 to 256, or 0 for anything else.
    static int size_in(std::string_view word) {
        int size = 0;
        const char* last = word.data() + word.size();
        const auto [end, error] = std::from_chars(word.data(), last, size);
        return error == std::errc() && end == last && size >= 1 && size <= 256 ? size : 0;
    }

    const Image& source(int size) const {
        for (const Image& drawn : art_.images) {
            if (drawn.size == size) return drawn;
        }
        fail("image " + std::to_string(size) + " is not drawn above");
    }

    Image scaled(const Image& image, int size) const {
        if (size <= image.size || size % image.size != 0) {
            fail("image " + std::to_string(size) + " is not a whole multiple of " +
                 std::to_string(image.size));
        }
        const int factor = size / image.size;
        Image result{size, {}};
        result.pixels.reserve(static_cast<std::size_t>(size) * size);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) result.pixels.push_back(image.at(x / factor, y / factor));
        }
        return result;
    }

    void take_output(const std::vector<std::string_view>& words) {
        const bool limited = words.size() == 5 && words[3] == "upto";
        if ((words.size() != 3 && !limited) ||
            (words[2] != "enabled" && words[2] != "disabled")) {
            fail("expected: output <file name> enabled|disabled [upto <size>]");
        }
        if (!is_bare_file_name(words[1])) fail("output must be a plain file name");
        for (const Output& named : art_.outputs) {
            if (named.file == words[1]) fail("output '" + named.file + "' is named twice");
        }
        const int largest = limited ? size_in(words[4]) : 256;
        if (largest == 0) fail("expected: upto <size from 1 to 256>");
        art_.outputs.push_back({std::string(words[1]),
                                words[2] == "enabled" ? Variant::enabled : Variant::disabled,
                                largest});
    }

    int rows_done() const { return art_.images.back().size - rows_left_; }

    [[noreturn]] void fail(const std::string& message) const { throw ParseError(line_, message); }

    Artwork art_;
    std::map<char, std::optional<Rgb>> palette_;
    int line_ = 0;
    int rows_left_ = 0;
    int image_line_ = 0;
};

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteEntries = 256;

// BITMAPINFOHEADER, palette, XOR bitmap and AND mask of one image, as stored in the file.
std::vector<std::uint8_t> encode_dib(const Image& image) {
    const int size = image.size;
    if (size < 1 || size > 256 || image.pixels.size() != static_cast<std::size_t>(size) * size) {
        throw std::invalid_argument("image of size " + std::to_string(size) + " is malformed");
    }

    std::vector<Rgb> palette{Rgb{0, 0, 0}};
    std::map<Rgb, std::uint8_t> index_of{{Rgb{0, 0, 0}, 0}};
    std::vector<std::uint8_t> indices;
    indices.reserve(image.pixels.size());
    for (const auto& pixel : image.pixels) {
        if (!pixel) {
            indices.push_back(0);
            continue;
        }
        auto [slot, added] = index_of.emplace(*pixel, static_cast<std::uint8_t>(palette.size()));
        if (added) {
            if (palette.size() == kPaletteEntries) {
                throw std::invalid_argument("image " + std::to_string(size) +
                                            " has more than 256 colours");
            }
            palette.push_back(*pixel);
        }
        indices.push_back(slot->second);
    }

    const std::size_t xor_stride = (static_cast<std::size_t>(size) + 3) / 4 * 4;
    const std::size_t and_stride = (static_cast<std::size_t>(size) + 31) / 32 * 4;
    const std::size_t bits_size = (xor_stride + and_stride) * size;

    std::vector<std::uint8_t> dib;
    dib.reserve(kInfoHeaderSize + kPaletteEntries * 4 + bits_size);
    put32(dib, kInfoHeaderSize);
    put32(dib, size);
    put32(dib, 2 * size);  // icons count the mask into the height
    put16(dib, 1);         // planes
    put16(dib, 8);         // bits per pixel
    put32(dib, 0);         // BI_RGB
    put32(dib, static_cast<std::uint32_t>(bits_size));
    put32(dib, 0);  // horizontal resolution
    put32(dib, 0);  // vertical resolution
    put32(dib, 0);  // colours used: all 256
    put32(dib, 0);  // important colours: all

    palette.resize(kPaletteEntries);
    for (const Rgb& colour : palette) {
        dib.insert(dib.end(), {colour.b, colour.g, colour.r, 0});
    }

    // Both bitmaps run bottom-up.
    for (int y = size - 1; y >= 0; --y) {
        const auto row = indices.begin() + static_cast<std::ptrdiff_t>(y) * size;
        dib.insert(dib.end(), row, row + size);
        dib.resize(dib.size() + xor_stride - size, 0);
    }
    for (int y = size - 1; y >= 0; --y) {
        const std::size_t row_start = dib.size();
        dib.resize(row_start + and_stride, 0);
        for (int x = 0; x < size; ++x) {
            if (!image.at(x, y)) dib[row_start + x / 8] |= static_cast<std::uint8_t>(0x80 >> x % 8);
        }
    }
    return dib;
}

}  // namespace

Artwork parse_artwork(std::string_view text) { return Parser().run(text); }

Image with_colours_replaced(const Image& image, const std::map<Rgb, Rgb>& replacements) {
    Image result = image;
    for (auto& pixel : result.pixels) {
        if (!pixel) continue;
        const auto replacement = replacements.find(*pixel);
        if (replacement != replacements.end()) pixel = replacement->second;
    }
    return result;
}

std::vector<Image> images_for(const Artwork& artwork, const Output& output) {
    std::vector<Image> result;
    for (const Image& image : artwork.images) {
        if (image.size > output.largest) continue;
        result.push_back(output.variant == Variant::enabled
                             ? image
                             : with_colours_replaced(image, artwork.disabled_colours));
    }
    return result;
}

std::vector<std::uint8_t> encode_ico(const std::vector<Image>& images) {
    if (images.empty() || images.size() > 0xFFFF) {
        throw std::invalid_argument("an icon holds from 1 to 65535 images");
    }
    std::vector<std::vector<std::uint8_t>> dibs;
    for (const Image& image : images) dibs.push_back(encode_dib(image));

    std::vector<std::uint8_t> out;
    put16(out, 0);  // reserved
    put16(out, 1);  // icon, not cursor
    put16(out, static_cast<unsigned>(images.size()));
    std::size_t offset = kDirectorySize + kEntrySize * images.size();
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto dimension = static_cast<std::uint8_t>(images[i].size % 256);  // 0 means 256
        out.insert(out.end(), {dimension, dimension, 0 /* 256 colours */, 0 /* reserved */});
        put16(out, 1);  // planes
        put16(out, 8);  // bits per pixel
        put32(out, static_cast<std::uint32_t>(dibs[i].size()));
        put32(out, static_cast<std::uint32_t>(offset));
        offset += dibs[i].size();
    }
    for (const auto& dib : dibs) out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

}  // namespace vos::icongen
