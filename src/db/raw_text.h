#pragma once
// Raw-text decoding: the server hands a text column over as the hexadecimal digits of its
// UTF-8 bytes followed by the closing "00000000"; this turns those digits back into code page
// 949 text fit for one line of a line-based file. Uses only its own areas and the caller's:
// safe to call from any thread.

#include <cstddef>
#include <string_view>

namespace zelvik {

// Decodes into the caller's zero-filled area of outSize bytes; the text, its terminator and
// one further zero always fit (longer text is cut at a character boundary). The whole stored
// value is decoded, up to the closing zeros; its control bytes (a zero byte included) become
// spaces, so that the text stays one line of the files it is written into. A digit outside
// 0-9, A-F, a-f reads as 0; at most 2048 digits are read.
void DecodeRawText(char* out, std::size_t outSize, std::string_view raw);

}  // namespace zelvik
