// What the fuzz targets share: a check that stops the run with a readable reason, and the input
// taken apart field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/sim_host.h"

namespace vos::fuzz {

// A simulated host as a test would start with, copied from one made once: building the side
// files anew for every input would cost more than most inputs do.
inline sim::SimHost FreshHost(bool withSideFiles) {
    static const sim::SimHost withFiles;
    static const sim::SimHost withoutFiles = [] {
        sim::SimHost host;
        host.files.clear();
        return host;
    }();
    return withSideFiles ? withFiles : withoutFiles;
}

// Unlike assert, also active in release builds; the fuzzer records the input as a crash.
#define VOS_REQUIRE(condition)                                                             \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: requirement failed: %s\n", __FILE__, __LINE__,    \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

// Hands out the input's bytes front to back; past the end it gives zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Left() const { return size_ - pos_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint64_t Le(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= std::uint64_t{Byte()} << (8 * i);
        return v;
    }
    std::vector<std::uint8_t> Rest() {
        std::vector<std::uint8_t> out(data_ + pos_, data_ + size_);
        pos_ = size_;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace vos::fuzz
