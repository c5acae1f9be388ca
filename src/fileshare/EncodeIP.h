// Encoding of this computer's address and port for the download link in the chat line.
//
// The plain text ("11" + address + ":" + port + ":::") is written over the alphabet
// "0123456789.:"; each pair of plain values (x1, x2) becomes the pair
// (5*x1 + 2*x2, 7*x1 + 3*x2) mod 12, written with the letters "kwhmzrfsuxgj".
#pragma once

#include <string>

inline constexpr char kPlainAlphabet[] = "0123456789.:";
inline constexpr char kTokenAlphabet[] = "kwhmzrfsuxgj";

// Position of ch in the plain alphabet. Any other character (a line end or the letters of an
// error page in the address service's reply) counts as ":" (11): it can then only add an empty
// field to the text, never turn into a digit or dot that would change the address or the port.
int AlphabetIndex(char ch);

// Two letters per pair of plain characters; an odd-length text is padded with one ":" first.
std::string EncodeAddress(const std::string& plain);

// The link appended to the chat line: an anchor whose target is "www.brenloplug:" + token and
// whose visible part is one symbol of the Wingdings face (byte 0xCA). An empty token still gives
// the whole link.
std::string DownloadLinkText(const std::string& token);
