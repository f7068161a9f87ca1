// The icons are committed as binaries beside the text they are drawn from. These tests keep the two
// in step and read the binaries back the way Windows will, so a broken file fails here rather than
// as a blank tray icon.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

// Compiled in directly: the unit test target knows nothing about the tools/ build.
#include "tools/icongen/iconart.cpp"

namespace {

namespace fs = std::filesystem;
using namespace vos::icongen;

const fs::path kResources = fs::path(VOS_SOURCE_DIR) / "resources";

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
    const std::string text = read_file(path);
    return {text.begin(), text.end()};
}

// 0xRRGGBB, or nothing where the AND mask makes the pixel transparent.
using Pixel = std::optional<std::uint32_t>;

struct Picture {
    int size = 0;
    std::vector<Pixel> pixels;  // top row first
};

// Reads back an icon in exactly the layout the program ships and throws on any deviation. It
// shares no code with the encoder, so the two cannot be wrong in the same way.
std::vector<Picture> decode_ico(const std::vector<std::uint8_t>& file) {
    const auto u8 = [&](std::size_t at) -> std::uint32_t {
        if (at >= file.size()) throw std::runtime_error("truncated");
        return file[at];
    };
    const auto u16 = [&](std::size_t at) { return u8(at) | u8(at + 1) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const auto require = [](bool ok, const std::string& what) {
        if (!ok) throw std::runtime_error(what);
    };

    require(u16(0) == 0 && u16(2) == 1, "no icon directory");
    const std::size_t count = u16(4);
    require(count > 0, "no images");
    std::size_t next = 6 + 16 * count;  // images follow the directory back to back
    std::vector<Picture> pictures;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        const std::uint32_t size = u8(entry) == 0 ? 256 : u8(entry);
        require(u8(entry + 1) == u8(entry), "not square");
        require(u8(entry + 2) == 0 && u8(entry + 3) == 0, "colour count or reserved byte");
        require(u16(entry + 4) == 1 && u16(entry + 6) == 8, "planes or bit count in directory");
        const std::size_t xor_stride = (size + 3) / 4 * 4;
        const std::size_t and_stride = (size + 31) / 32 * 4;
        require(u32(entry + 8) == 40 + 256 * 4 + (xor_stride + and_stride) * size, "byte count");
        require(u32(entry + 12) == next, "image offset");

        const std::size_t dib = next;
        require(u32(dib) == 40 && u32(dib + 4) == size && u32(dib + 8) == 2 * size, "dimensions");
        require(u16(dib + 12) == 1 && u16(dib + 14) == 8 && u32(dib + 16) == 0, "bitmap format");
        require(u32(dib + 32) == 0 || u32(dib + 32) == 256, "palette size");
        const std::size_t palette = dib + 40;
        require(u32(palette) == 0, "palette index 0 is not black");
        const std::size_t xor_bits = palette + 256 * 4;
        const std::size_t and_bits = xor_bits + xor_stride * size;

        Picture picture{static_cast<int>(size), {}};
        for (std::size_t y = 0; y < size; ++y) {
            const std::size_t row = size - 1 - y;  // stored bottom-up
            for (std::size_t x = 0; x < size; ++x) {
                const std::uint32_t index = u8(xor_bits + row * xor_stride + x);
                if (u8(and_bits + row * and_stride + x / 8) >> (7 - x % 8) & 1) {
                    require(index == 0, "transparent pixel is not black");
                    picture.pixels.push_back(std::nullopt);
                } else {
                    const std::size_t rgbquad = palette + 4 * index;
                    picture.pixels.push_back(u8(rgbquad + 2) << 16 | u8(rgbquad + 1) << 8 |
                                             u8(rgbquad));
                }
            }
        }
        pictures.push_back(std::move(picture));
        next = and_bits + and_stride * size;
    }
    require(next == file.size(), "bytes after the last image");
    return pictures;
}

std::vector<Picture> committed_icon(const char* name) {
    return decode_ico(read_bytes(kResources / name));
}

TEST(IconFiles, CommittedCopiesMatchTheirDescriptions) {
    std::set<std::string> produced;
    for (const auto& entry : fs::directory_iterator(kResources / "icons")) {
        if (entry.path().extension() != ".txt") continue;
        const std::string text = read_file(entry.path());
        const Artwork artwork = parse_artwork(text);
        for (const Output& output : artwork.outputs) {
            produced.insert(output.file);
            EXPECT_TRUE(encode_ico(images_for(artwork, output)) ==
                        read_bytes(kResources / output.file))
                << "resources/" << output.file << " is stale; refresh it as icongen.cpp explains";
        }
        // A Windows checkout may hand the generator CRLF line endings.
        std::string crlf;
        for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_TRUE(encode_ico(parse_artwork(crlf).images) == encode_ico(artwork.images));
    }
    EXPECT_EQ(produced,
              (std::set<std::string>{"tray_disabled.ico", "tray_enabled.ico", "vosselmar.ico"}));
}

TEST(IconFiles, HoldTheSizesTheProgramLoads) {
    for (const char* name : {"vosselmar.ico", "tray_enabled.ico", "tray_disabled.ico"}) {
        SCOPED_TRACE(name);
        std::set<int> sizes;
        for (const Picture& picture : committed_icon(name)) {
            EXPECT_TRUE(sizes.insert(picture.size).second) << picture.size << " appears twice";
            if (picture.size == 16) {
                EXPECT_EQ(std::count(picture.pixels.begin(), picture.pixels.end(), std::nullopt),
                          54);
            }
        }
        // 16 for the tray and small icon at 100 %, 32 for the large icon and the tray at 200 %.
        EXPECT_TRUE(sizes.count(16) == 1 && sizes.count(32) == 1);
        // The tray loads nothing above 48; only the program icon carries Explorer's sizes.
        const bool program = std::string(name) == "vosselmar.ico";
        EXPECT_EQ(sizes.count(64) + sizes.count(256), program ? 2u : 0u);
        if (!program) {
            EXPECT_LE(*sizes.rbegin(), 48);
        }
    }
}

TEST(IconDescription, LargeSizesRepeatThePixelsOfADrawnOne) {
    const Artwork art = parse_artwork(
        "colour . transparent\ncolour K #000000\nimage 2\n.K\nK.\nimage 4 from 2\n"
        "output a.ico enabled\noutput b.ico enabled upto 2\n");
    const std::optional<Rgb> o, k = Rgb{0, 0, 0};
    const std::vector<std::optional<Rgb>> four = {o, o, k, k, o, o, k, k,
                                                  k, k, o, o, k, k, o, o};
    ASSERT_EQ(art.images.size(), 2u);
    EXPECT_TRUE(art.images[1].size == 4 && art.images[1].pixels == four);
    EXPECT_EQ(images_for(art, art.outputs[0]).size(), 2u);
    EXPECT_EQ(images_for(art, art.outputs[1]).size(), 1u);
}

TEST(IconArtwork, DisabledPictureOnlyGreysTheFolderShades) {
    const std::map<std::uint32_t, std::uint32_t> greyed_shade = {
        {0xFFC66B, 0xB5B5B5}, {0xFFB848, 0xA3A3A3}, {0xFFAA00, 0x7F7F7F}, {0xDC9200, 0x6E6E6E}};
    const auto program = committed_icon("vosselmar.ico");
    const auto enabled = committed_icon("tray_enabled.ico");
    const auto disabled = committed_icon("tray_disabled.ico");
    ASSERT_EQ(enabled.size(), disabled.size());
    ASSERT_GE(program.size(), enabled.size());  // both ascending; the program's adds larger sizes

    for (std::size_t i = 0; i < enabled.size(); ++i) {
        const Picture& on = enabled[i];
        SCOPED_TRACE("size " + std::to_string(on.size));
        ASSERT_EQ(disabled[i].size, on.size);
        EXPECT_TRUE(program[i].pixels == on.pixels) << "program icon and tray picture differ";

        std::set<std::uint32_t> shades_used;
        for (std::size_t p = 0; p < on.pixels.size(); ++p) {
            Pixel expected = on.pixels[p];
            if (expected && greyed_shade.count(*expected) != 0) {
                shades_used.insert(*expected);
                expected = greyed_shade.at(*expected);
            } else if (expected) {
                EXPECT_TRUE(*expected == 0x000000 || *expected == 0xFFFFFF) << "pixel " << p;
            }
            EXPECT_EQ(disabled[i].pixels[p], expected) << "pixel " << p;
        }
        EXPECT_EQ(shades_used.size(), greyed_shade.size()) << "folder lacks one of its shades";
    }
}

TEST(IconDescription, MistakesAreReportedAtTheirLine) {
    const std::string header = "colour . transparent\ncolour K #000000\n";  // lines 1 and 2
    const struct {
        const char* what;
        std::string text;
        int line;
    } cases[] = {
        {"undeclared colour", header + "image 2\n.K\nKx\n", 5},
        {"short row", header + "image 2\n.K\nK\n", 5},
        {"image cut off at the end", header + "output a.ico enabled\nimage 2\n.K\n", 4},
        {"colour declared twice", header + "colour K #FFFFFF\n", 3},
        {"non-hex colour", "colour K #00000G\n", 1},
        {"greyed transparency", "colour . transparent disabled #000000\n", 1},
        {"one shade, two greys",
         "colour a #FFAA00 disabled #7F7F7F\ncolour b #FFAA00 disabled #000000", 2},
        {"size too big", header + "image 257\n", 3},
        {"output outside the folder", header + "output ../a.ico enabled\n", 3},
        {"no output", header + "image 1\nK\n", 4},
        {"scaled from a size not drawn", header + "image 2\n.K\nK.\nimage 8 from 4\n", 6},
        {"scaled by a fraction", header + "image 2\n.K\nK.\nimage 3 from 2\n", 6},
        {"output limited to no size", header + "output a.ico enabled upto 0\n", 3},
    };
    for (const auto& c : cases) {
        try {
            parse_artwork(c.text);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ParseError& e) {
            EXPECT_EQ(e.line(), c.line) << c.what << ": " << e.what();
        }
    }
}

}  // namespace
