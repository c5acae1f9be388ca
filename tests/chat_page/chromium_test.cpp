// A real HTML engine reads the chat line the way we mean it: one composed line (gradient over ten
// colours, wavy, bold, download link) is rendered by headless Chromium, and a small script on the
// page writes down, for every character the browser shows, its computed colour, whether it sits
// lowered or raised, its weight and its link. That must match what the fader computed for each
// character. Skipped, with the reason, where Chromium is not installed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "announce/u_aol.h"
#include "announce/u_composer.h"
#include "announce/u_fader.h"
#include "chat_page.h"

namespace {

namespace fs = std::filesystem;

// The browser; BP_CHROMIUM in the environment names another one (or a missing one, to see the
// skip).
std::string Chromium() {
    const char* other = std::getenv("BP_CHROMIUM");
    return other != nullptr ? other : BP_CHROMIUM;
}
constexpr char kToken[] = "sgxwssufufmzgwsgrhrh";
constexpr char kLinkTitle[] = "Du brauchst BrenloPlug, um diese Funktion zu nutzen.";

// Per character the browser shows: code point, computed colour, "sub"/"sup"/"-", weight, and the
// link's target or "-".
constexpr char kScript[] = R"(
const cell = document.querySelector('td.line');
const out = [];
const walker = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
for (let n = walker.nextNode(); n; n = walker.nextNode()) {
  const parent = n.parentElement;
  const style = getComputedStyle(parent);
  const wave = parent.closest('sub, sup');
  const link = parent.closest('a');
  for (const ch of n.data) {
    out.push([ch.codePointAt(0), style.color.replace(/ /g, ''),
              wave ? wave.tagName.toLowerCase() : '-', style.fontWeight,
              link ? link.getAttribute('href') : '-'].join(' '));
  }
}
for (const a of cell.querySelectorAll('a')) out.push('title ' + a.getAttribute('title'));
const pre = document.createElement('pre');
pre.id = 'computed';
pre.textContent = out.join('\n');
document.body.appendChild(pre);
)";

struct RecordingPreview : IPreviewControl {
    std::uint32_t color = 0;
    std::string chars;
    std::vector<std::uint32_t> colors;
    void SetSelectionColor(std::uint32_t colorref) override { color = colorref; }
    void TypeChar(unsigned char ch) override {
        chars += static_cast<char>(ch);
        colors.push_back(color);
    }
};

struct LinkOnly : IFileServerLink {
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return kToken; }
};

std::string Rgb(std::uint32_t colorref) {
    return "rgb(" + std::to_string(colorref & 0xFF) + "," + std::to_string((colorref >> 8) & 0xFF) +
           "," + std::to_string((colorref >> 16) & 0xFF) + ")";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of <pre id="computed"> in Chromium's dump of the page, one entry per line.
std::optional<std::vector<std::string>> ComputedLines(const std::string& dom) {
    const std::string open = "<pre id=\"computed\">";
    const std::size_t start = dom.find(open);
    const std::size_t end = dom.find("</pre>", start);
    if (start == std::string::npos || end == std::string::npos) {
        return std::nullopt;
    }
    std::string text = dom.substr(start + open.size(), end - start - open.size());
    for (const auto& [entity, ch] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (std::size_t p = text.find(entity); p != std::string::npos; p = text.find(entity, p)) {
            text.replace(p, std::string(entity).size(), ch);
            p += 1;
        }
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class ChromiumTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(Chromium())) {
            GTEST_SKIP() << "Chromium is not installed (" << Chromium()
                         << "): the chat line is not checked in a browser. "
                            "scripts/screenshots.sh installs it.";
        }
        std::string pattern = (fs::temp_directory_path() / "chat_page_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    // Chromium's view of `page`; a browser that has not finished after two minutes is taken as
    // hung. It asks nothing of the network: no updates, no pings, no background fetches.
    std::string DumpDom(const std::string& page) {
        const fs::path html = dir_ / "line.html";
        std::ofstream(html, std::ios::binary) << page;
        const fs::path dom = dir_ / "dom.html";
        const fs::path log = dir_ / "chromium.log";
        const std::string command =
            "timeout 120 '" + Chromium() + "'" +
            " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
            " --disable-component-update --no-pings --user-data-dir='" +
            (dir_ / "profile").string() + "' --dump-dom 'file://" + html.string() + "' >'" +
            dom.string() + "' 2>'" + log.string() + "'";
        const int status = std::system(command.c_str());
        EXPECT_EQ(status, 0) << command << "\n" << ReadFile(log);
        return ReadFile(dom);
    }

    fs::path dir_;
};

TEST_F(ChromiumTest, ShowsEveryCharacterInTheColourTheFaderComputedAndTheLinkWithItsTitle) {
    const TSongInfo song{"C:\\Music\\Nena - 99 Luftballons.mp3",
                         "Nena - 99 Luftballons <3 & M\xFCnchen", 192, 233};
    TPluginSettings settings;
    settings.general.enablechat = true;
    settings.general.enablefade = true;
    settings.general.presongtitle = "np: ";
    settings.general.postsongtitle = " :)";
    settings.general.preposttitlefade = true;
    settings.general.enablefontformat = true;
    settings.general.fontface = "Arial";
    settings.general.bold = true;
    settings.aol.aolwavyscroll = true;
    settings.aol.aolfs = true;
    settings.aol.fsport = "4711";
    settings.fader.fadecolors = 10;
    settings.fader.fadecolor = {0x000000FF, 0x000080FF, 0x0000FFFF, 0x0000FF00, 0x00FFFF00,
                                0x00FF0000, 0x00FF0080, 0x00FF00FF, 0x0032C864, 0x003C64C8};
    LinkOnly link;
    const std::optional<TAolMessage> message = ComposeAolMessage(song, settings, link);
    ASSERT_TRUE(message.has_value());
    const std::string line = BuildAolLine(*message);

    // The fader's own colour for each character, as it types them into a preview.
    const std::string faded =
        settings.general.presongtitle + song.Title + settings.general.postsongtitle;
    RecordingPreview preview;
    FadeText(faded, settings.fader.fadecolor, 10, true, &preview);
    ASSERT_EQ(preview.chars, faded);

    const std::vector<chatpage::Room> rooms = {{"Lobby", {line}, {}}};
    const std::string dom = DumpDom(chatpage::RenderPage(rooms, kScript));
    const std::optional<std::vector<std::string>> shown = ComputedLines(dom);
    ASSERT_TRUE(shown.has_value()) << dom;

    // Every faded character, then the link's symbol (not coloured, not bold), then the title.
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < faded.size(); ++i) {
        const std::size_t position = i + 1;
        const char* wave = position % 4 == 1 ? "sub" : position % 4 == 3 ? "sup" : "-";
        expected.push_back(std::to_string(static_cast<unsigned char>(faded[i])) + " " +
                           Rgb(preview.colors[i]) + " " + wave + " 700 -");
    }
    const std::string target = std::string("www.brenloplug:") + kToken;
    ASSERT_GE(shown->size(), expected.size() + 2) << dom;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ((*shown)[i], expected[i]) << "character " << i + 1 << " of " << faded;
    }
    const std::string symbol = (*shown)[expected.size()];
    EXPECT_EQ(symbol.substr(0, 4), "202 ") << symbol;  // the one-byte symbol 0xCA
    EXPECT_EQ(symbol.substr(symbol.size() - target.size() - 4), "400 " + target) << symbol;
    EXPECT_EQ(shown->back(), std::string("title ") + kLinkTitle);

    // The gradient passes through colours 1 to 9 in order, each shown exactly at its segment's
    // start, whatever the fader's arithmetic in between.
    std::size_t next = 0;
    for (std::size_t i = 0; i < expected.size() && next < 9; ++i) {
        if ((*shown)[i].find(" " + Rgb(static_cast<std::uint32_t>(settings.fader.fadecolor[next])) +
                             " ") != std::string::npos) {
            ++next;
        }
    }
    EXPECT_EQ(next, 9u) << "colour " << next + 1 << " never shown in order";
}

}  // namespace
