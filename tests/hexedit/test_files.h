// Small helpers for the buffer tests: a private temporary folder and whole-file access.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace hexedit_test {

class TTempDir {
 public:
  TTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "varnix-hexedit-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }
  // Names in the folder, for checks that no temporary file was left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      names.push_back(e.path().filename().string());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadText(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadBytes(const std::string& name) {
  const std::string s = ReadText(name);
  return std::vector<uint8_t>(s.begin(), s.end());
}

inline void WriteText(const std::string& name, const std::string& text) {
  std::ofstream f(name, std::ios::binary);
  f << text;
}

inline void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream f(name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace hexedit_test
