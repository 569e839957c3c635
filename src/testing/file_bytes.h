#pragma once
// The bytes tests compare: a file read whole, the lines the program writes (code page 949,
// CR LF) from readable UTF-8, and bytes as hexadecimal digits.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik {

// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);
// Every ".log" file below dir (run logs and summaries), joined.
std::string ReadAllLogs(const std::filesystem::path& dir);
// UTF-8 lines as the program writes them: code page 949, each ended by CR LF.
std::string Cp949Lines(const std::vector<std::string>& linesUtf8);
// Upper-case hexadecimal digits of the bytes ("B0A1").
std::string Hex(std::string_view bytes);

}  // namespace zelvik
