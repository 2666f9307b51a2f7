#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/convert.h"

namespace platform {

namespace {

constexpr size_t kMaxLine = 1 << 16;  // longer lines are not ours
constexpr size_t kMaxFile = 8 << 20;  // a settings file is small; refuse anything huge

std::string FullKey(const std::string& section) {
  return section.empty() ? kProgramKey : std::string(kProgramKey) + "\\" + section;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Reads a quoted string at s[i] ('"' expected); advances i past the closing quote.
bool ReadQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    if (s[i] == '\\') {
      if (++i >= s.size()) return false;
      if (s[i] == 'n')
        out += '\n';
      else if (s[i] == 'r')
        out += '\r';
      else
        out += s[i];
    } else if (s[i] == '"') {
      ++i;
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\')
      out += '\\', out += c;
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    if (i + 1 >= s.size()) return false;
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
    if (i < s.size()) {
      if (s[i] != ',') return false;
      if (++i == s.size()) return false;  // a trailing comma: the line was cut
    }
  }
  return true;
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const auto slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

std::string TSettingsStore::DefaultPath() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/varnix/Varnix2.2.conf";
}

bool TSettingsStore::Load(const std::string& path, std::string* warning) {
  sections_.clear();
  path_ = path;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;  // first run
  std::ifstream in(path, std::ios::binary);
  if (!in || S_ISDIR(st.st_mode)) {
    if (warning)
      *warning = path + ": cannot be read (" +
                 (S_ISDIR(st.st_mode) ? std::string("a folder") : std::strerror(errno)) +
                 "); defaults apply";
    return false;
  }
  std::string line, section;
  bool inOurKey = false;
  int lineNo = 0, bad = 0, firstBad = 0;
  size_t total = 0;
  auto skip = [&] {
    if (!bad++) firstBad = lineNo;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    total += line.size() + 1;
    if (total > kMaxFile) {
      skip();
      break;
    }
    if (line.size() > kMaxLine) {
      skip();
      continue;
    }
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[') {
      if (t.back() != ']') {
        skip();
        inOurKey = false;
        continue;
      }
      const std::string key = t.substr(1, t.size() - 2);
      const std::string prog = kProgramKey;
      if (key == prog) {
        section.clear();
        inOurKey = true;
      } else if (key.size() > prog.size() + 1 &&
                 key.compare(0, prog.size() + 1, prog + "\\") == 0) {
        section = key.substr(prog.size() + 1);
        inOurKey = true;
      } else {
        skip();
        inOurKey = false;
      }
      continue;
    }
    size_t i = 0;
    std::string name, text;
    if (!inOurKey || !ReadQuoted(t, i, name) || i >= t.size() || t[i] != '=') {
      skip();
      continue;
    }
    ++i;
    if (i < t.size() && t[i] == '"') {
      if (!ReadQuoted(t, i, text) || i != t.size()) {
        skip();
        continue;
      }
      sections_[section][name] = text;
    } else if (t.compare(i, 4, "hex:") == 0) {
      std::vector<uint8_t> bytes;
      if (!ParseHex(t.substr(i + 4), bytes)) {
        skip();
        continue;
      }
      sections_[section][name] = bytes;
    } else {
      skip();
    }
  }
  if (bad && warning)
    *warning = path + ": skipped " + std::to_string(bad) + " unreadable line" +
               (bad > 1 ? "s" : "") + " (first at line " + std::to_string(firstBad) +
               "); their settings take defaults";
  return true;
}

bool TSettingsStore::Save(std::string* reason) const {
  if (path_.empty()) return true;  // a store without a file
  return SaveTo(path_, reason);
}

bool TSettingsStore::SaveTo(const std::string& path, std::string* reason) const {
  std::ostringstream text;
  text << "; Varnix 2.2 settings\n";
  for (const auto& [section, values] : sections_) {
    text << "[" << FullKey(section) << "]\n";
    for (const auto& [name, value] : values) {
      text << Quote(name) << '=';
      if (const auto* s = std::get_if<std::string>(&value)) {
        text << Quote(*s);
      } else {
        static const char kHex[] = "0123456789abcdef";
        const auto& b = std::get<std::vector<uint8_t>>(value);
        text << "hex:";
        for (size_t k = 0; k < b.size(); ++k)
          text << (k ? "," : "") << kHex[b[k] >> 4] << kHex[b[k] & 15];
      }
      text << '\n';
    }
  }
  const std::string data = text.str();
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
  auto fail = [&](const std::string& what) {
    if (reason) *reason = path + ": " + what + " (" + std::strerror(errno) + ")";
    return false;
  };
  if (!MakeDirs(dir)) return fail("cannot create its folder");
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return fail("cannot be written");
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      unlink(tmp.c_str());
      return fail("cannot be written");
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(tmp.c_str());
    return fail("cannot be written");
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return fail("cannot be replaced");
  }
  return true;
}

bool TSettingsStore::ValueExists(const std::string& section, const std::string& name) const {
  const auto s = sections_.find(section);
  return s != sections_.end() && s->second.count(name);
}

std::optional<std::string> TSettingsStore::ReadString(const std::string& section,
                                                      const std::string& name) const {
  const auto s = sections_.find(section);
  if (s == sections_.end()) return std::nullopt;
  const auto v = s->second.find(name);
  if (v == s->second.end()) return std::nullopt;
  if (const auto* str = std::get_if<std::string>(&v->second)) return *str;
  return std::nullopt;
}

std::string TSettingsStore::ReadString(const std::string& section, const std::string& name,
                                       const std::string& def) const {
  return ReadString(section, name).value_or(def);
}

int64_t TSettingsStore::ReadInteger(const std::string& section, const std::string& name,
                                    int64_t def) const {
  const auto s = ReadString(section, name);
  if (!s) return def;
  // Decimal only: an integer was written as its decimal text.
  if (s->empty() || s->find_first_of("$xX") != std::string::npos) return def;
  return base::TryStrToInt64(*s).value_or(def);
}

std::optional<std::vector<uint8_t>> TSettingsStore::ReadBinary(const std::string& section,
                                                               const std::string& name) const {
  const auto s = sections_.find(section);
  if (s == sections_.end()) return std::nullopt;
  const auto v = s->second.find(name);
  if (v == s->second.end()) return std::nullopt;
  if (const auto* b = std::get_if<std::vector<uint8_t>>(&v->second)) return *b;
  return std::nullopt;
}

void TSettingsStore::WriteString(const std::string& section, const std::string& name,
                                 const std::string& value) {
  sections_[section][name] = value;
}

void TSettingsStore::WriteInteger(const std::string& section, const std::string& name,
                                  int64_t value) {
  sections_[section][name] = std::to_string(value);
}

void TSettingsStore::WriteBinary(const std::string& section, const std::string& name,
                                 const std::vector<uint8_t>& value) {
  sections_[section][name] = value;
}

void TSettingsStore::DeleteValue(const std::string& section, const std::string& name) {
  const auto s = sections_.find(section);
  if (s != sections_.end()) s->second.erase(name);
}

std::optional<TRect> TSettingsStore::ReadRect(const std::string& name) const {
  const auto b = ReadBinary("", name);
  if (!b || b->size() != 16) return std::nullopt;
  auto at = [&](size_t k) {
    return static_cast<int32_t>(static_cast<uint32_t>((*b)[k]) | ((*b)[k + 1] << 8) |
                                ((*b)[k + 2] << 16) | (static_cast<uint32_t>((*b)[k + 3]) << 24));
  };
  return TRect{at(0), at(4), at(8), at(12)};
}

void TSettingsStore::WriteRect(const std::string& name, const TRect& rect) {
  std::vector<uint8_t> b;
  for (int32_t v : {rect.Left, rect.Top, rect.Right, rect.Bottom})
    for (int k = 0; k < 4; ++k)
      b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k)));
  WriteBinary("", name, b);
}

}  // namespace platform
