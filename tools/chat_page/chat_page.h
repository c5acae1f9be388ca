// The chat rooms as a web page: what the stand-in chat client recorded, each line rendered the
// way the chat client shows its markup. Pure text handling, shared by the chat_page program and
// its tests.
//
// Everything in a transcript is untrusted: it is what arrived in a chat room. The markup keeps
// only the tags the chat client knows (font with colour and face, b, i, u, s, sub, sup, and a
// link with its target and title); any other "<" is shown as text, every text and attribute is
// escaped, and a link target is kept only for the plug-in's own scheme and for http/https.
// Transcript bytes are Windows-1252; the page is UTF-8.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace chatpage {

struct Room {
    std::string name;
    std::vector<std::string> lines;   // every line the room received, in order
    std::vector<std::string> inputs;  // the last text seen in input 1, 2, ... (empty if never seen)
};

// Reads the stand-in chat client's output:
//   chat: room 'NAME': LINE            a line the room received
//   chat: room 'NAME' input N: TEXT    the text in an input (the last one seen counts)
// A room name runs to the first "'". Other lines are skipped; a trailing "\r" is dropped. Rooms
// are listed in the order they first appear.
std::vector<Room> ParseTranscript(std::istream& in);

// Windows-1252 text as UTF-8 with "&", "<", ">", quotes and apostrophes as character
// references; control characters become U+FFFD.
std::string EscapeText(std::string_view cp1252);

// One chat line's markup as HTML that a browser reads the same way: known tags with their checked
// attributes pass, everything else is escaped text.
std::string RenderMarkup(std::string_view line);

// The whole page: a heading and one section per room with its lines and its inputs' texts.
// `script` (empty for the page itself) is put at the end of the body and allowed to run; without
// it the page forbids scripts and every network access.
std::string RenderPage(const std::vector<Room>& rooms, std::string_view script = {});

}  // namespace chatpage
