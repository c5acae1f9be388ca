// Encoding of this computer's address and port for the download link in the chat line.
#include "fileshare/EncodeIP.h"

#include <cstddef>

namespace {

constexpr int kModulus = 12;
constexpr int kA = 5;
constexpr int kB = 2;
constexpr int kC = 7;
constexpr int kD = 3;
constexpr int kOutsideAlphabet = 11;  // the value of ":"

constexpr char kLinkStart[] = "<a href=\"www.brenloplug:";
constexpr char kLinkTitle[] =
    "\" title=\"Du brauchst BrenloPlug, um diese Funktion zu nutzen.\">"
    "<font face=\"Wingdings\"></b></u>";
constexpr char kLinkSymbol = static_cast<char>(0xCA);
constexpr char kLinkEnd[] = "<font face=\"Arial Narrow\" color=\"#FEFEFE\"></a>";

}  // namespace

int AlphabetIndex(char ch) {
    for (int p = 0; p < kModulus; ++p) {
        if (kPlainAlphabet[p] == ch) {
            return p;
        }
    }
    return kOutsideAlphabet;
}

std::string EncodeAddress(const std::string& plain) {
    std::string padded = plain;
    if (padded.size() % 2 != 0) {
        padded += ':';
    }
    std::string token;
    token.reserve(padded.size());
    for (std::size_t i = 0; i < padded.size(); i += 2) {
        const int x1 = AlphabetIndex(padded[i]);
        const int x2 = AlphabetIndex(padded[i + 1]);
        token += kTokenAlphabet[(kA * x1 + kB * x2) % kModulus];
        token += kTokenAlphabet[(kC * x1 + kD * x2) % kModulus];
    }
    return token;
}

std::string DownloadLinkText(const std::string& token) {
    std::string link = kLinkStart;
    link += token;
    link += kLinkTitle;
    link += kLinkSymbol;
    link += kLinkEnd;
    return link;
}
