// Small helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/texts.h"
#include "sim/sim_host.h"

namespace vos::test {

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline void Append(std::vector<std::uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

inline void AppendLe(std::vector<std::uint8_t>& out, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The language the start would have chosen, for the life of a scope.
class SpeakLanguage {
  public:
    explicit SpeakLanguage(Language language) : before_(CurrentLanguage()) {
        SetLanguage(language);
    }
    ~SpeakLanguage() { SetLanguage(before_); }
    SpeakLanguage(const SpeakLanguage&) = delete;
    SpeakLanguage& operator=(const SpeakLanguage&) = delete;

  private:
    Language before_;
};

// A call a test expects: its name and the arguments that matter to it, by name. Arguments left
// out may hold anything.
struct CallIs {
    std::string name;
    std::vector<sim::Arg> args = {};
};

// The calls are exactly these, in this order, each with the arguments given.
inline ::testing::AssertionResult CallsAre(const std::vector<sim::Call>& calls,
                                           const std::vector<CallIs>& want) {
    auto listing = [&] {
        std::string out;
        for (const sim::Call& c : calls) out += "\n  " + c.Text();
        return out;
    };
    if (calls.size() != want.size()) {
        return ::testing::AssertionFailure()
               << calls.size() << " calls where " << want.size() << " were expected:" << listing();
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (calls[i].name != want[i].name) {
            return ::testing::AssertionFailure() << "call " << i << " is " << calls[i].name
                                                 << ", not " << want[i].name << listing();
        }
        for (const sim::Arg& expected : want[i].args) {
            const sim::Arg* arg = calls[i].Find(expected.name);
            if (!arg || arg->value != expected.value) {
                return ::testing::AssertionFailure()
                       << "call " << i << " has another " << expected.name << listing();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vos::test
