#pragma once
// The system's wide strings on Windows, where a wchar_t is one UTF-16 unit: the conversions of
// codepage.h for the wide calls (paths, the console, the window's texts, message boxes).
// Windows only; defined in codepage_windows.cpp beside the conversions they use.

#include <string>
#include <string_view>

namespace zelvik {

// UTF-8 to the system's UTF-16; malformed UTF-8 becomes '?'.
std::wstring WideFromUtf8(std::string_view utf8);
// The system's UTF-16 to UTF-8 (an unpaired surrogate becomes U+FFFD). Straight, not through
// code page 949: a name that code page lacks stays recognisable as such.
std::string Utf8FromWide(std::wstring_view wide);

// A text of the program (code page 949) for a wide call, and back, as Cp949ToUtf16 and
// Utf16ToCp949 convert.
std::wstring WideFromCp949(std::string_view cp949);
std::string Cp949FromWide(std::wstring_view wide);

}  // namespace zelvik
