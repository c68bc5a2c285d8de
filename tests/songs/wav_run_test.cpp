// sonvault-songs --wav where some songs cannot be rendered: each gets its line, the others are
// written, and the status says one failed; the golden runs hold the bytes of songs it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "songs/songs.h"
#include "support/whole_run.h"
#include "tune_image.h"

namespace fs = std::filesystem;

TEST(SongsWav, SongsThatCannotBeRenderedAreSkippedAndTheOthersWritten) {
  // The jingle's second track points past the image's end; a sixth song plays the effect's track
  // from a header whose instrument list is out of reach.
  ImageBuilder image(0);
  image.PutBytes(0, TuneImage());
  image.PutU32(0x34C, 0x08F00000);
  image.PutSongList(0x200, {{0x08000300, 0},
                            {0x08000340, 0},
                            {0x08000360, 1},
                            {0x08000340, 0},
                            {0x08000380, 0},
                            {0x08000390, 1}});
  image.PutSongHeader(0x390, 0x00400001, 0x08F00000, {0x08002040});
  TempDir work;
  WriteFile(work / "tune.gba", std::string(image.bytes().begin(), image.bytes().end()));
  const ToolRun run = RunInProcess(work.path(), {"tune.gba", "--wav", "1-2", "5"}, "\n",
                                   "sonvault-songs", RunSonvaultSongs);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.console.find("Song 1: not rendered, its tracks run off the image\n"
                             "Song 2: 0:00, ends; 0:00 written to tune-2.wav\n"
                             "Song 5: not rendered, it has no instrument list in the image\n\n"
                             "Error: 2 songs could not be rendered\n"),
            std::string::npos)
      << run.console;
  EXPECT_FALSE(fs::exists(work / "tune-1.wav"));
  EXPECT_FALSE(fs::exists(work / "tune-5.wav"));
  EXPECT_FALSE(fs::exists(work / "tune-5.wav.partial"));
  EXPECT_EQ(fs::file_size(work / "tune-2.wav"), 41832u);
}
