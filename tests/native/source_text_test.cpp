// User-visible text is single-byte text of the ANSI code page (Windows-1252). A literal typed as
// UTF-8 in a source file would reach a message box as two wrong characters, so the sources of
// the product and of its stand-ins stay pure ASCII and write other characters as escapes
// ("\xFC" for the u with umlaut).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(SourceText, EverySourceFileOfTheProductAndTheStandInsIsPureAscii) {
    std::vector<std::string> offenders;
    int files = 0;
    for (const char* folder : {"src", "tools"}) {
        for (const auto& entry :
             fs::recursive_directory_iterator(fs::path(BP_SOURCE_DIR) / folder)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".rc"))
                continue;
            ++files;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            int line = 1;
            for (char c : text) {
                if (c == '\n')
                    ++line;
                if (static_cast<unsigned char>(c) >= 0x80) {
                    offenders.push_back(entry.path().string() + ":" + std::to_string(line));
                    break;
                }
            }
        }
    }
    EXPECT_GT(files, 20) << "the sources were not found under " << BP_SOURCE_DIR;
    EXPECT_TRUE(offenders.empty())
        << "non-ASCII bytes (write them as escapes): " << testing::PrintToString(offenders);
}

}  // namespace
