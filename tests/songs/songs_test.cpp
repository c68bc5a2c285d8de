// Moves that sonvault-songs refuses, and songs that read in the game as in the source; the golden
// runs hold the bytes of the moves it makes.
#include "songs/songs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/music.h"
#include "support/streams.h"
#include "support/whole_run.h"

namespace fs = std::filesystem;

namespace {

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A game with music of its own: two songs, players of 4 and 1 tracks just before its song list,
// and its code's literal of the list's address at 0x100.
Bytes Game() {
  ImageBuilder image(0x1000);
  image.PutSignature(0x200, 0x08000400).PutU32(0x1FC, 0x080003E0).PutU32(0x100, 0x08000400);
  image.PutU32(0x3E0, 0x03000000).PutU32(0x3E4, 0x03000100).PutU8(0x3E8, 4);
  image.PutU32(0x3EC, 0x03000200).PutU32(0x3F0, 0x03000300).PutU8(0x3F4, 1);
  image.PutSongList(0x400, {{0x08000500, 0x00070000}, {0x08000600, 0x00070001}});
  image.PutSongHeader(0x500, 0x00000001, 0x08000800, {0x08000700});
  image.PutSongHeader(0x600, 0x00000001, 0x08000800, {0x08000710});
  image.PutTrack(0x700, {0xBC, 0x10, 0xB1}).PutTrack(0x710, {0xBD, 0x02, 0xB1});
  image.PutInstrumentList(0x800, {{0x3C00, 0x08000900, 0}});
  return image.PutSample(0x900, 16, Pattern(17, 3)).bytes();
}

// Game() with its song list pointer at 0x200 set to pointer.
Bytes GameListedAt(uint32_t pointer) {
  ImageBuilder image;
  for (uint8_t byte : Game()) image.PutU8(static_cast<uint32_t>(image.bytes().size()), byte);
  return image.PutU32(0x200, pointer).bytes();
}

// A game whose two-song list at 0x1F8 runs over its own pointer word and signature: song 1's
// entry is the pointer word (which names the list itself) and signature word 0. Its code's
// literal of the list's address is at 0x100.
Bytes ListOverItsPointer() {
  ImageBuilder image(0x1000);
  image.PutSignature(0x200, 0x080001F8).PutU32(0x100, 0x080001F8);
  image.PutU32(0x1F8, 0x08000500).PutU32(0x1FC, 0x00070000);
  image.PutSongHeader(0x500, 0x00000001, 0x08000800, {0x08000700});
  image.PutTrack(0x700, {0xBC, 0x10, 0xB1});
  return image.PutInstrumentList(0x800, {{0x3C00, 0x08000900, 0}}).bytes();
}

// A game whose song list at 0x400 holds 4096 songs, the most sonvault-songs reads.
Bytes FullSongList() {
  ImageBuilder image;
  image.PutSignature(0x200, 0x08000400).PutU32(0x100, 0x08000400);
  image.PutSongList(0x400, std::vector<SongEntry>(4096, {0x08000300, 0}));
  return image.PutSongHeader(0x300, 0, 0, {}).bytes();
}

std::string Demo() { return ReadFile(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba"); }

ToolRun Songs(const fs::path& work, const std::vector<std::string>& args,
              const std::string& typed) {
  return RunInProcess(work, args, typed, "sonvault-songs", RunSonvaultSongs);
}

}  // namespace

// Moved all at once into a game, the copy's own song list at the game's old end is the source's:
// every song, with all it uses, reads there as the sound engine reads it in the source.
TEST(Songs, MovedSongsReadAsInTheSource) {
  TempDir work;
  const std::string demo = Demo();
  WriteFile(work / "music.gba", demo);
  WriteFile(work / "game.gba", Text(Game()));
  const std::vector<std::string> args = {"music.gba", "game.gba", "0=new:0",
                                         "1=new:0",   "2=new:1",  "3=new:1"};
  ASSERT_EQ(Songs(work.path(), args, "y\n\n").status, 0);
  const std::string moved = ReadFile(work / "game.gba");
  ExpectSameMusic(Bytes(demo.begin(), demo.end()), Bytes(moved.begin(), moved.end()), 0x08001000);
}

// Each refusal ends the run with its line and status 1, and leaves every file as it was.
TEST(Songs, RefusedMovesChangeNothing) {
  const char* const kOverlap =
      "Error: the words the moves rewrite overlap one another, the song list pointer, the "
      "signature or the copy";
  const struct {
    std::vector<std::string> args;
    const char* line;
  } rows[] = {
      {{"music.gba", "game.gba"},
       "Error: no moves given; write them as 3=5 (song 3 replaces "
       "song 5), 3=new"},
      {{"music.gba", "game.gba", "0=x"},
       "Error: not a move: 0=x (write it as 3=5, 3=new or 3=new:1)"},
      {{"music.gba", "game.gba", "0=new:65536"},
       "Error: not a move: 0=new:65536 (write it as 3=5, 3=new or 3=new:1)"},
      {{"music.gba", "game.gba", "4=0"}, "Error: the source has no song 4 (its songs are 0 to 3)"},
      {{"music.gba", "game.gba", "0=2"},
       "Error: the target has no song 2 to replace (its songs are 0 to 1)"},
      {{"music.gba", "game.gba", "0=1", "0x2=1"}, "Error: song 1 of the target is given two songs"},
      {{"music.gba", "game.gba", "3=new"},
       "Error: the target has no player 4 (its players are 0 to 1)"},
      {{"music.gba", "game.gba", "0=0:2"},
       "Error: the target has no player 2 (its players are 0 to 1)"},
      {{"music.gba", "missing.gba", "0=0"}, "Error opening output file"},
      {{"missing.gba", "game.gba", "0=0"}, "Error opening input file"},
      {{"plain.bin", "game.gba", "0=0"}, "Could not locate audio data"},
      {{"music.gba", "plain.bin", "0=0"}, "Could not locate audio data in the target"},
      {{"music.gba", "full.gba", "0=0"}, "Error: output exceeds the 32 MiB cartridge space"},
      {{"music.gba", "nearly-full.gba", "0=0"}, "Error: output exceeds the 32 MiB cartridge space"},
      // Song list pointers that are not a cartridge address into the image, as sonvault-point
      // refuses them: a RAM address, and one past the image's end.
      {{"ram.gba"}, "Could not locate audio data"},
      {{"ram.gba", "game.gba", "0=0"}, "Could not locate audio data"},
      {{"music.gba", "ram.gba", "0=0"}, "Could not locate audio data in the target"},
      {{"music.gba", "past.gba", "0=0"}, "Could not locate audio data in the target"},
      // Song 1's entry is the pointer word and signature word 0: replacing it would rewrite them,
      // and an add would rewrite the pointer word twice.
      {{"music.gba", "over.gba", "0=1"}, kOverlap},
      {{"music.gba", "over.gba", "0=1:0", "1=new:0"}, kOverlap},
      {{"music.gba", "over.gba", "1=new"}, nullptr},
      {{"music.gba", "full-list.gba", "0=new"}, "Error: more than 4096 songs in one song list"},
  };
  TempDir work;
  WriteFile(work / "music.gba", Demo());
  WriteFile(work / "game.gba", Text(Game()));
  WriteFile(work / "plain.bin", std::string(0x100, 'x'));
  fs::copy_file(work / "game.gba", work / "full.gba");
  fs::resize_file(work / "full.gba", 0x2000000);
  fs::copy_file(work / "game.gba", work / "nearly-full.gba");
  fs::resize_file(work / "nearly-full.gba", 0x2000000 - 0x400);  // the song needs 1172 bytes
  WriteFile(work / "ram.gba", Text(GameListedAt(0x02000400)));
  WriteFile(work / "past.gba", Text(GameListedAt(0x08001000)));
  WriteFile(work / "over.gba", Text(ListOverItsPointer()));
  WriteFile(work / "full-list.gba", Text(FullSongList()));
  Files before;
  for (const char* name : {"game.gba", "ram.gba", "past.gba", "over.gba", "full-list.gba"}) {
    before[name] = ReadFile(work / name);
  }
  for (const auto& row : rows) {
    // nullptr: the same target takes a move that rewrites no word twice (it is put back after).
    const char* line = row.line == nullptr ? "Finished" : row.line;
    SCOPED_TRACE(line);
    const ToolRun run = Songs(work.path(), row.args, "y\n\n");
    EXPECT_EQ(run.status, row.line == nullptr ? 0 : 1);
    EXPECT_NE(run.console.find(std::string("\n") + line + "\n"), std::string::npos) << run.console;
    if (row.line == nullptr) {
      WriteFile(work / row.args[1], before.at(row.args[1]));
      continue;
    }
    for (const auto& [name, bytes] : before) EXPECT_EQ(ReadFile(work / name), bytes) << name;
    EXPECT_EQ(fs::file_size(work / "full.gba"), 0x2000000u);
    EXPECT_EQ(fs::file_size(work / "nearly-full.gba"), 0x2000000u - 0x400);
    EXPECT_FALSE(fs::exists(work / "missing.gba"));
  }
}

// A replace changes nothing but its entry, even where the game's song list ends at the end of the
// file: the copy used to start right there, and its own list lengthened the game's by its songs.
TEST(Songs, AReplaceLeavesTheGameItsNumberOfSongs) {
  TempDir work;
  WriteFile(work / "music.gba", Demo());
  ImageBuilder image(0x1000);
  image.PutSignature(0x200, 0x08000FF0).PutU32(0x100, 0x08000FF0);
  image.PutSongList(0xFF0, {{0x08000500, 0}, {0x08000500, 0}});
  image.PutSongHeader(0x500, 0, 0, {});
  WriteFile(work / "game.gba", Text(image.Resize(0x1000).bytes()));
  const ToolRun run = Songs(work.path(), {"music.gba", "game.gba", "0=1"}, "y\n\n");
  ASSERT_EQ(run.status, 0) << run.console;
  // The copy starts after a zero entry of its own, at 0x1008.
  EXPECT_NE(run.console.find("Appending 1172 bytes at: 0x08001008\n"), std::string::npos)
      << run.console;
  const ToolRun list = Songs(work.path(), {"game.gba"}, "\n");
  EXPECT_NE(list.console.find("Song list at: 0x08000FF0 (2 songs)\n"), std::string::npos)
      << list.console;
}

#if !defined(_WIN32)
// A file of a terabyte (sparse: the demo's bytes, then a hole) is read only as far as the 32 MiB
// window: its whole size once went to one buffer, and the listing died of it.
TEST(Songs, ATerabyteImageIsListedFromItsWindow) {
  TempDir work;
  WriteFile(work / "big.gba", Demo());
  fs::resize_file(work / "big.gba", uint64_t{1} << 40);
  const ToolRun run = Songs(work.path(), {"big.gba"}, "\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.console.find("Song list at: 0x08000400 (4 songs)\n"), std::string::npos)
      << run.console;
}
#endif
