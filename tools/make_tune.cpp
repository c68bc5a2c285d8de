// Writes the tune image (tune_image.h): a small game whose songs the renderer plays as music.
// Usage: make_tune <output path>
#include <cstdio>

#include "tune_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_tune <output path>\n");
    return 2;
  }
  if (!WriteImageFile(argv[1], TuneImage())) {
    std::fprintf(stderr, "make_tune: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
