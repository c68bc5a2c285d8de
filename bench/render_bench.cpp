// Times the song renderer and the listing's Length column in process.
// Usage: render_bench <image> [runs]
// - the tune image's theme (tools/tune_image.h: a looping 2-minute song of 10 tracks) rendered to
//   nowhere: its first 2 minutes, and the whole render (the loop twice and the fade); and its
//   Length alone;
// - the listing's work on <image> (the songs and what a move of each appends) with and without the
//   Length column (one pass of every distinct song header).
// Prints the median of the runs in ms, and the render's speed against real time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/audio_locator.h"
#include "render/renderer.h"
#include "songs/image_view.h"
#include "songs/song_table.h"
#include "tune_image.h"

namespace {

using Clock = std::chrono::steady_clock;

Renderer gRenderer;
SongTable gTable;
ImageView gView;  // large: off the stack
int16_t gBlock[2 * kBlockSamples];

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Renders up to samples stereo samples of the song; returns how many there were.
uint64_t Render(const Bytes& image, uint32_t header, uint64_t samples) {
  StartSong(gRenderer, {image.data(), static_cast<uint32_t>(image.size())}, header);
  uint64_t done = 0;
  while (!SongEnded(gRenderer) && done < samples) {
    done += PlaySong(gRenderer, gBlock, kBlockSamples);
  }
  return done;
}

template <typename Step>
double TimeMs(Step step) {
  const Clock::time_point start = Clock::now();
  step();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: render_bench <image> [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const Bytes tune = TuneImage();
  const uint32_t theme = 0x08000300;
  std::vector<double> twoMinutes, whole, list, listWithLength, pass;
  uint64_t wholeSamples = 0;
  for (int run = 0; run < runs; ++run) {
    twoMinutes.push_back(TimeMs([&] { Render(tune, theme, 120 * kOutputRate); }));
    whole.push_back(TimeMs([&] { wholeSamples = Render(tune, theme, UINT64_MAX); }));
    pass.push_back(
        TimeMs([&] {
          for (int k = 0; k < 100; ++k) {
            uint64_t budget = UINT64_MAX;
            MeasureSong({tune.data(), static_cast<uint32_t>(tune.size())}, theme, budget);
          }
        }) /
        100);
  }

  std::FILE* file = std::fopen(argv[1], "rb");
  ImageBytes image;
  uint64_t pointerOffset = 0;
  const uint32_t songList = file == nullptr ? 0 : LocateAudioData(file, &pointerOffset);
  if (songList == 0 || !ReadImage(file, image) || !OpenImageView(gView, file)) {
    std::fprintf(stderr, "render_bench: no songs in %s\n", argv[1]);
    return 1;
  }
  const ImageSpan view{image.data(),
                       static_cast<uint32_t>(std::min<size_t>(image.size(), kWindowSize))};
  uint32_t measured = 0;
  for (int run = 0; run < runs; ++run) {
    list.push_back(TimeMs([&] { ReadSongTable(gView, songList, pointerOffset, true, gTable); }));
    listWithLength.push_back(list.back() + TimeMs([&] {
                               uint64_t budget = 64'000'000;
                               measured = 0;
                               for (uint32_t k = 0; k < gTable.count; ++k) {
                                 if (gTable.songs[k].sharesWith != k) continue;
                                 MeasureSong(view, gTable.songs[k].header, budget);
                                 ++measured;
                               }
                             }));
  }
  std::fclose(file);
  const double seconds = static_cast<double>(wholeSamples) / kOutputRate;
  std::printf("render, first 2:00 of the 10-track theme: %.1f ms (%.0fx real time)\n",
              Median(twoMinutes), 120000 / Median(twoMinutes));
  std::printf("render, the whole theme (%.0f s: the loop twice, the fade): %.1f ms (%.0fx)\n",
              seconds, Median(whole), seconds * 1000 / Median(whole));
  std::printf("Length of the theme (one pass, 2:01): %.3f ms\n", Median(pass));
  std::printf("listing of %u songs without the Length column: %.1f ms\n", gTable.count,
              Median(list));
  std::printf("listing with the Length column (%u distinct headers): %.1f ms (+%.0f %%)\n",
              measured, Median(listWithLength),
              100 * (Median(listWithLength) - Median(list)) / Median(list));
  return 0;
}
