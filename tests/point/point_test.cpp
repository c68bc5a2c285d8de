// Music moved all the way: inserted into a game, the game pointed at it, that game extracted,
// the bank inserted into a fresh copy and that copy pointed: each game must read the same songs,
// lists and blocks as the original.
#include "point/point.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/music.h"
#include "support/streams.h"
#include "support/whole_run.h"

namespace fs = std::filesystem;

namespace {

std::string Demo() { return ReadFile(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba"); }

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void Insert(const fs::path& work, const std::string& source, const std::string& target,
            const std::string& at) {
  const ToolRun run = RunInProcess(work, {source, target}, "y\n\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.console.find("Inserting audio data at: " + at + "\n"), std::string::npos);
}

void Point(const fs::path& work, const std::string& image, const std::string& address) {
  const ToolRun run =
      RunInProcess(work, {image, address}, "y\n\n", "sonvault-point", RunSonvaultPoint);
  EXPECT_EQ(run.status, 0) << run.console;
}

}  // namespace

TEST(Point, MusicMovesIntoAGameAndOnAgainAndPlaysTheSame) {
  TempDir work;
  const std::string demo = Demo();
  const Bytes original = BytesOf(demo);
  WriteFile(work / "demo.gba", demo);

  // A trimmed game of any size: grown by 2 bytes, the copy still starts on a multiple of 4.
  WriteFile(work / "game.gba", demo + std::string(2, '\0'));
  Insert(work.path(), "demo.gba", "game.gba", "0x08004004");
  const std::string inserted = ReadFile(work / "game.gba");
  Point(work.path(), "game.gba", "0x08004004");
  Bytes game = BytesOf(ReadFile(work / "game.gba"));
  EXPECT_EQ(WordAt(game, 0x200), 0x08004004u);  // the signature's pointer
  EXPECT_EQ(WordAt(game, 0x104), 0x08004010u);  // song 1's second word, in the new list
  EXPECT_EQ(WordAt(game, 0x108), 0x08000420u);  // past the old list's end: not the list's
  // The game no longer needs its old song list.
  std::fill(game.begin() + 0x400, game.begin() + 0x420, uint8_t{0});
  WriteFile(work / "game.gba", std::string(game.begin(), game.end()));
  ExpectSameMusic(original, game);

  // On again: the pointed game is a source; its bank goes into a fresh copy.
  EXPECT_EQ(RunInProcess(work.path(), {"game.gba"}, "\n").status, 0);
  WriteFile(work / "fresh.gba", demo);
  Insert(work.path(), "output.tbnk", "fresh.gba", "0x08004000");
  Point(work.path(), "fresh.gba", "0x08004000");
  ExpectSameMusic(original, BytesOf(ReadFile(work / "fresh.gba")));

  // Pointing back undoes the pointing.
  WriteFile(work / "game.gba", inserted);
  Point(work.path(), "game.gba", "0x08004004");
  Point(work.path(), "game.gba", "0x08000400");
  EXPECT_EQ(ReadFile(work / "game.gba"), inserted);
}
