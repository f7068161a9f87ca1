// sidegen: writes the configuration dialog's side files from their readable sources.
//
//   sidegen <source folder> <output folder>
//
// It reads gminst.txt (the 128 instrument names), gminst.en.txt (the same in English) and keys.txt
// (the 77 shortcut keys) from the source folder and writes gminst.bin, gminst.en.bin, vkname.bin
// and vkvalue.bin into the output folder; the
// source formats are described at the top of each source. A source it cannot turn into exactly
// what the program expects is refused with its line number and nothing is written. The build's
// "sidefiles" target writes them to <build folder>/side_files. The copies in resources/ are
// committed so the Windows build needs no native tool; after changing a source, refresh them from
// the repository root with:
//
//   cmake --build --preset native --target sidefiles && cp build/native/side_files/*.bin resources/
//
// The unit tests fail while the committed copies and the sources disagree.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "tools/sidegen/sidedata.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: sidegen <source folder> <output folder>\n";
        return 2;
    }
    try {
        const fs::path source = argv[1];
        const fs::path output = argv[2];
        const vos::sidegen::SideFiles files = vos::sidegen::Generate(
            ReadText(source / "gminst.txt"), ReadText(source / "keys.txt"));
        const std::string english =
            vos::sidegen::MakeInstrumentFile(ReadText(source / "gminst.en.txt"), "gminst.en.txt");
        fs::create_directories(output);
        WriteBytes(output / "gminst.bin", files.gminst);
        WriteBytes(output / "gminst.en.bin", english);
        WriteBytes(output / "vkname.bin", files.vkname);
        WriteBytes(output / "vkvalue.bin", files.vkvalue);
    } catch (const std::exception& e) {
        std::cerr << "sidegen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
