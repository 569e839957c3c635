#include "testing/file_bytes.h"

#include <fstream>
#include <sstream>

#include "util/codepage.h"

namespace zelvik {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string ReadAllLogs(const std::filesystem::path& dir) {
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".log") {
      all += ReadBytes(entry.path());
    }
  }
  return all;
}

std::string Cp949Lines(const std::vector<std::string>& linesUtf8) {
  std::string out;
  for (const std::string& line : linesUtf8) out += Utf8ToCp949(line) + "\r\n";
  return out;
}

std::string Hex(std::string_view bytes) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace zelvik
