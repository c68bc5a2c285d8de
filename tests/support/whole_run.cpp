#include "support/whole_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/driver.h"

namespace fs = std::filesystem;

fs::path Utf8Path(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

TempDir::TempDir() {
  std::random_device seed;
  do {
    path_ = fs::temp_directory_path() / ("sonvault-test-" + std::to_string(seed()));
  } while (!fs::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Files FilesIn(const fs::path& dir) {
  Files files;
  std::error_code missing;
  for (const auto& entry : fs::directory_iterator(dir, missing)) {
    const std::u8string name = entry.path().filename().u8string();
    files[std::string(name.begin(), name.end())] =
        entry.is_regular_file() ? ReadFile(entry.path()) : "";
  }
  return files;
}

void ExpectSameFiles(const Files& want, const Files& got) {
  for (const auto& [name, bytes] : got) EXPECT_EQ(want.count(name), 1u) << name << " appeared";
  for (const auto& [name, bytes] : want) {
    EXPECT_TRUE(got.count(name) == 1 && got.at(name) == bytes) << name << " went or differs";
  }
}

ToolRun RunInProcess(const fs::path& workDir, const std::vector<std::string>& args,
                     const std::string& typed, const std::string& program, ProgramRun run) {
  TempDir io;
  WriteFile(io / "typed", typed);
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const fs::path home = fs::current_path();
  fs::current_path(workDir);
  ToolRun result{-1, "", 0};
  EXPECT_TRUE(std::freopen((io / "typed").string().c_str(), "r", stdin) != nullptr);
  testing::internal::CaptureStdout();
  result.status = (run != nullptr ? run : RunSonvault)(static_cast<int>(words.size()), argv.data());
  result.console = testing::internal::GetCapturedStdout();  // flushes every stream first
  while (std::getchar() != EOF) ++result.unread;
    // Let go of the typed file, so its folder can be removed on every platform.
#if defined(_WIN32)
  std::freopen("NUL", "r", stdin);
#else
  std::freopen("/dev/null", "r", stdin);
#endif
  fs::current_path(home);
  result.console.erase(std::remove(result.console.begin(), result.console.end(), '\r'),
                       result.console.end());
  return result;
}
