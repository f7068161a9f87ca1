// icongen: draws the program's .ico files from the text descriptions in resources/icons.
//
//   icongen <output folder> <description.txt>...
//
// Each description names the files it produces ("output" lines); see iconart.h for the format.
// The build's "icons" target writes them to <build folder>/icons. The copies in resources/ are
// committed so the Windows build needs no native tool; after changing a description, refresh them
// from the repository root with:
//
//   cmake --build --preset native --target icons && cp build/native/icons/*.ico resources/
//
// The unit tests fail while the committed copies and the descriptions disagree.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/icongen/iconart.h"

namespace {

namespace fs = std::filesystem;
using namespace vos::icongen;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_bytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: icongen <output folder> <description.txt>...\n";
        return 2;
    }
    const fs::path out_dir = argv[1];
    std::error_code error;
    fs::create_directories(out_dir, error);
    if (error) {
        std::cerr << out_dir.string() << ": " << error.message() << "\n";
        return 1;
    }

    for (int i = 2; i < argc; ++i) {
        const fs::path description = argv[i];
        try {
            const Artwork artwork = parse_artwork(read_text(description));
            for (const Output& output : artwork.outputs) {
                write_bytes(out_dir / output.file, encode_ico(images_for(artwork, output)));
            }
        } catch (const std::exception& e) {
            std::cerr << description.string() << ": " << e.what() << "\n";
            return 1;
        }
    }
    return 0;
}
