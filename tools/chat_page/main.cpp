// Writes the chat rooms that the stand-in chat client recorded as one web page.
//
// Usage: chat_page TRANSCRIPT PAGE
// TRANSCRIPT is the stand-in chat client's output; PAGE is the HTML file written (UTF-8, no
// script, no network access).
#include <cstdio>
#include <fstream>
#include <string>

#include "chat_page.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: chat_page TRANSCRIPT PAGE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "chat_page: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string page = chatpage::RenderPage(chatpage::ParseTranscript(in));
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "chat_page: cannot write %s\n", argv[2]);
        return 2;
    }
    return 0;
}
