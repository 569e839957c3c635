#include "db/connect_string.h"

#include <cstddef>
#include <utility>

#include "log/run_log.h"
#include "util/codepage.h"
#include "util/format.h"

namespace zelvik {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// True when text at i starts another attribute: a keyword of letters, digits, '_' or spaces
// followed by '='.
bool StartsAttribute(std::string_view text, std::size_t i) {
  std::size_t j = i;
  while (j < text.size()) {
    char c = text[j];
    if (c == '=') return j > i;
    bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '_' || c == ' ';
    if (!word) return false;
    ++j;
  }
  return false;
}

// Appends one attribute value; false when the grammar has no way to write it.
bool AppendValue(std::string_view value, std::string* out) {
  if (value.find('\0') != std::string_view::npos) return false;
  const bool braced = value.find_first_of(";{}=") != std::string_view::npos ||
                      (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!braced) {
    out->append(value);
    return true;
  }
  // Lead and trail bytes of code page 949 never take these byte values, so a byte scan
  // cannot split a character.
  out->push_back('{');
  for (char c : value) {
    out->push_back(c);
    if (c == '}') out->push_back('}');
  }
  out->push_back('}');
  return true;
}

}  // namespace

bool BuildConnectString(std::string_view dsn, std::string_view uid, std::string_view pwd,
                        std::string* connect, const char** refused) {
  connect->clear();
  const std::pair<const char*, std::string_view> fields[] = {
      {"DSN", dsn}, {"UID", uid}, {"PWD", pwd}};
  for (const auto& [key, value] : fields) {
    if (!connect->empty()) connect->push_back(';');
    connect->append(key).push_back('=');
    if (!AppendValue(value, connect)) {
      connect->clear();
      *refused = key;
      return false;
    }
  }
  return true;
}

std::string MaskPassword(std::string_view connect) {
  std::string out;
  out.reserve(connect.size());
  std::size_t i = 0;
  while (i < connect.size()) {
    // One attribute: keyword '=' value, up to the next ';'. A braced value may hold ';'.
    std::size_t eq = connect.find('=', i);
    std::size_t semi = connect.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      std::size_t end = semi == std::string_view::npos ? connect.size() : semi + 1;
      out.append(connect.substr(i, end - i));
      i = end;
      continue;
    }
    std::string_view key = Trim(connect.substr(i, eq - i));
    std::size_t v = eq + 1;
    std::size_t end = v;
    std::size_t lead = v;
    while (lead < connect.size() && connect[lead] == ' ') ++lead;
    if (lead < connect.size() && connect[lead] == '{') {
      // Braced: up to the closing '}' ("}}" stands for one '}').
      end = lead + 1;
      while (end < connect.size()) {
        if (connect[end] == '}') {
          if (end + 1 < connect.size() && connect[end + 1] == '}') {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
      while (end < connect.size() && connect[end] != ';') ++end;
    } else {
      end = connect.find(';', v);
      if (end == std::string_view::npos) end = connect.size();
    }
    bool secret = EqualsNoCase(key, "PWD") || EqualsNoCase(key, "PASSWORD");
    if (secret && lead < connect.size() && connect[lead] != '{') {
      // An unbraced password may itself hold ';': it runs on until another attribute starts.
      while (end + 1 < connect.size() && !StartsAttribute(connect, end + 1)) {
        std::size_t next = connect.find(';', end + 1);
        end = next == std::string_view::npos ? connect.size() : next;
      }
    }
    out.append(connect.substr(i, v - i));
    if (secret) {
      out.append("****");
    } else {
      out.append(connect.substr(v, end - v));
    }
    if (end < connect.size()) out.push_back(';');
    i = end < connect.size() ? end + 1 : end;
  }
  return out;
}

namespace {

// Log lines of a failed connect are built in an area of this size, cut at a character
// boundary.
constexpr std::size_t kOpenDBLineArea = 2048;

void LogOpenDBLine(const std::string& line) {
  char szmsg[kOpenDBLineArea] = {};
  CopyCut(szmsg, sizeof(szmsg), line);
  WriteLog(szmsg, 1);
}

}  // namespace

void LogOpenDBFailure(std::string_view connect) {
  LogOpenDBLine(Format("OpenDB Error[%s]", MaskPassword(connect).c_str()));
}

void LogOpenDBFailure(std::string_view connect, const std::string& driverText) {
  LogOpenDBLine(
      Format("OpenDB Error[%s][%s]", MaskPassword(connect).c_str(), driverText.c_str()));
}

}  // namespace zelvik
