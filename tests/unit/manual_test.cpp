// The manuals, resources/説明書.htm and its English version Manual.htm: markup every browser reads
// the same way, links that lead somewhere, and the program's own texts quoted exactly as the
// program shows them in the manual's language.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/modMain.h"
#include "app/texts.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/layout.h"

namespace vos {
namespace {

namespace fs = std::filesystem;

std::string Utf8(std::wstring_view text) {  // the program's texts are all in the BMP
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<unsigned>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

fs::path FromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

const fs::path kDir = FromUtf8(VOS_SOURCE_DIR) / "resources";

// A manual for each language: its file, its <html lang>, and the heading of its terms of use, which
// the first start's question names.
struct ManualOf {
    Language language;
    const wchar_t* file;
    const char* lang;
    const char* terms;
};
const ManualOf kManuals[] = {
    {Language::Japanese, kManualFileName, "ja", "４．使用規約"},
    {Language::English, kManualFileNameEnglish, "en", "4. Terms of use"},
};

std::string ReadManual(const ManualOf& manual) {
    std::ifstream in(kDir / FromUtf8(Utf8(manual.file)), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Tag {
    std::string name, attributes;
    bool closing;
    std::size_t at;
};

// Splits a page into tags, skipping comments, the doctype and the text of <style> and <script>,
// and checks that every element but the void ones is closed, in order. Returns what is wrong.
std::string CheckTags(const std::string& html, std::vector<Tag>* tags = nullptr) {
    auto line = [&](std::size_t at) {
        return " at line " + std::to_string(1 + std::count(html.begin(), html.begin() + at, '\n'));
    };
    std::vector<Tag> found;
    for (std::size_t i = 0; (i = html.find('<', i)) != std::string::npos;) {
        if (html.compare(i, 2, "<!") == 0) {
            std::size_t end = html.find(html.compare(i, 4, "<!--") == 0 ? "-->" : ">", i + 2);
            if (end == std::string::npos) return "unterminated <!" + line(i);
            i = end + 1;
            continue;
        }
        std::size_t n = i + 1 + (html[i + 1] == '/'), k = n, end;
        while (std::isalnum(static_cast<unsigned char>(html[k]))) ++k;
        if (k == n) return "a bare '<' (write &lt;)" + line(i);
        char quote = 0;
        for (end = k; end < html.size() && (quote || html[end] != '>'); ++end) {
            if (html[end] == quote) {
                quote = 0;
            } else if (quote == 0 && (html[end] == '"' || html[end] == '\'')) {
                quote = html[end];
            }
        }
        if (end == html.size()) return "unterminated tag" + line(i);
        std::string name = html.substr(n, k - n);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        found.push_back({name, html.substr(k, end - k), n != i + 1, i});
        i = end + 1;
        if (!found.back().closing && (name == "style" || name == "script"))
            i = html.find("</" + name, i);
    }
    static const std::set<std::string> kVoid = {"area",   "base",  "br",    "col",  "embed",
                                                "hr",     "img",   "input", "link", "meta",
                                                "source", "track", "wbr"};
    std::vector<const Tag*> open;
    for (const Tag& t : found) {
        if (kVoid.count(t.name)) {
            if (t.closing) return "</" + t.name + "> closes a void element" + line(t.at);
        } else if (!t.closing) {
            open.push_back(&t);
        } else if (open.empty() || open.back()->name != t.name) {
            return "</" + t.name + ">" + line(t.at) + " while <" +
                   (open.empty() ? "nothing" : open.back()->name) + "> is open";
        } else {
            open.pop_back();
        }
    }
    if (!open.empty())
        return "<" + open.back()->name + ">" + line(open.back()->at) + " is never closed";
    if (tags) *tags = std::move(found);
    return {};
}

// The value of name="..." in a tag, or nothing.
std::string Attribute(const Tag& t, const std::string& name) {
    std::size_t at = t.attributes.find(" " + name + "=\"");
    if (at == std::string::npos) return {};
    at += name.size() + 3;
    return t.attributes.substr(at, t.attributes.find('"', at) - at);
}

TEST(ManualCheck, TagCheckerFindsBrokenMarkup) {
    const std::pair<const char*, bool> cases[] = {
        {"<p>a<br>b<img src=\"x\"></p>", true},  // void elements need no end tag
        {"<!-- <div> --><p title=\"a > b\">x</p>", true},
        {"<style>p > b { }</style><p></p>", true},
        {"<p><b>x</p></b>", false},  // crossed
        {"<ul><li>x</ul>", false},   // an end tag left out
        {"<p>x</p></div>", false},   // an end tag too many
        {"<p>1 < 2</p>", false},     // a bare '<'
        {"<p>x</p><!-- never ends", false},
        {"<style>p { }</p>", false},  // raw text never closed
    };
    for (const auto& [html, ok] : cases) EXPECT_EQ(CheckTags(html).empty(), ok) << html;
}

void IsSelfContainedWellFormedHtml(const ManualOf& manual) {
    const std::string html = ReadManual(manual);
    ASSERT_FALSE(html.empty()) << "cannot read the manual in " << kDir;
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(html.find("<html lang=\"" + std::string(manual.lang) + "\">"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(CheckTags(html), "");
}

TEST(Manual, IsSelfContainedWellFormedHtml) {
    for (const ManualOf& manual : kManuals) {
        SCOPED_TRACE(Utf8(manual.file));
        IsSelfContainedWellFormedHtml(manual);
    }
}

void LinksLeadSomewhere(const ManualOf& manual) {
    const std::string html = ReadManual(manual);
    std::vector<Tag> tags;
    ASSERT_EQ(CheckTags(html, &tags), "");
    std::set<std::string> ids, targets;
    bool terms = false;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const Tag& t = tags[i];
        if (std::string id = Attribute(t, "id"); !id.empty()) {
            EXPECT_TRUE(ids.insert(id).second) << "id twice: " << id;
            // The first-start question sends the reader to this heading by its exact title.
            const std::string title = std::string(manual.terms) + "</h2>";
            terms |=
                t.name == "h2" && html.compare(html.find('>', t.at) + 1, title.size(), title) == 0;
        }
        for (const char* name : {"href", "src"}) {
            std::string ref = Attribute(t, name);
            if (ref.starts_with('#')) {
                targets.insert(ref.substr(1));
            } else if (!ref.empty()) {
                EXPECT_EQ(ref.find(':'), std::string::npos)
                    << "not a file beside the manual: " << ref;
                EXPECT_TRUE(fs::exists(kDir / FromUtf8(ref))) << "missing: " << ref;
            }
        }
    }
    for (const std::string& target : targets)
        EXPECT_TRUE(ids.count(target)) << "no id for #" << target;
    EXPECT_TRUE(terms) << "no <h2 id=\"...\">" << manual.terms << "</h2>";
    EXPECT_NE(Utf8(Text(text::kTerms, manual.language)).find(manual.terms), std::string::npos)
        << "the question names another heading";
}

TEST(Manual, LinksLeadSomewhere) {
    for (const ManualOf& manual : kManuals) {
        SCOPED_TRACE(Utf8(manual.file));
        LinksLeadSomewhere(manual);
    }
}

void QuotesTheProgramsTextsExactly(const ManualOf& manual) {
    const Language language = manual.language;
    const std::string html = ReadManual(manual);
    std::vector<std::string> texts = {
        Utf8(kUndefinedPath),
        Utf8(layout::DialogCaption(language)),
        Utf8(kConfigFileName),
        Utf8(manual.file),
    };
    for (text::Key key :
         {text::kTipEnabled, text::kTipDisabled, text::kTipInputGone, text::kTipInputRefused}) {
        texts.push_back(Utf8(Text(key, language)));
    }
    for (text::Key key : {text::kMenuConfig, text::kMenuHelp, text::kMenuEnd}) {
        std::wstring menu = Text(key, language);
        std::erase(menu, L'&');
        texts.push_back(Utf8(menu));
    }
    // The messages the manual explains, one line at a time, without the values filled in.
    for (text::Key key :
         {text::kTerms, text::kChooseInput, text::kNoMidiInput, text::kAlreadyRunning,
          text::kInputChanged, text::kOutputChanged, text::kShortcutRefused, text::kCannotOpenInput,
          text::kOneEntryNeeded, text::kNoChord, text::kAskDuplicates, text::kContained,
          text::kChooseShortcut, text::kChooseProgram, text::kAskRebuild,
          text::kDialogCannotOpen}) {
        std::wstring piece;
        for (const wchar_t* c = Text(key, language);; ++c) {
            const bool place = c[0] == L'{' && c[1] != 0 && c[2] == L'}';
            if (*c == 0 || *c == L'\r' || place) {
                if (piece.size() > 1) texts.push_back(Utf8(piece));
                piece.clear();
                if (*c == 0) break;
                if (place) c += 2;
                continue;
            }
            piece += *c;
        }
    }
    for (const layout::Item& item : layout::kItems) {  // every caption of the dialog
        std::string caption = Utf8(layout::CaptionOf(item, language));
        std::erase(caption, '&');
        if (!caption.empty()) texts.push_back(caption);
    }
    for (const std::string& text : texts)
        EXPECT_NE(html.find(text), std::string::npos) << "not quoted: " << text;
}

TEST(Manual, QuotesTheProgramsTextsExactly) {
    for (const ManualOf& manual : kManuals) {
        SCOPED_TRACE(Utf8(manual.file));
        QuotesTheProgramsTextsExactly(manual);
    }
}

}  // namespace
}  // namespace vos
