#include "cli/program_info.h"

#include <cstdio>
#include <cstring>

#include "version.h"

const ProgramInfo kSonvaultInfo = {
    "sonvault",
    "Usage: sonvault <source image>                  extract mode\n"
    "       sonvault <source image> <target image>   insert mode\n"
    "       sonvault --help | --version\n"
    "\n"
    "Copies the audio data of a Game Boy Advance cartridge image (song list, songs,\n"
    "instrument lists, samples, wave tables and key maps), every pointer it follows\n"
    "relocated. A sound bank file is itself a valid source.\n"
    "\n"
    "Extract mode writes it into a new sound bank file, output.tbnk, in the folder part\n"
    "of the program's path as it was started (everything up to its last backslash, so\n"
    "beside sonvault.exe when an image is dropped onto it), or else in the working\n"
    "directory. An earlier output.tbnk is replaced only once the new bank is complete.\n"
    "\n"
    "Insert mode appends it at the end of the target image, on the next multiple of 4,\n"
    "after a y/n question, and prints the address where the song list lands: point the\n"
    "game at it with sonvault-point. Further arguments are ignored.\n"
    "\n"
    "Every run ends by waiting for one key (Enter), so that a console window stays open.\n"
    "\n"
    "Exit status: 0 after \"Finished\" or \"Aborted\", 1 after an error line.\n"
    "A file named --help or --version is reached as ./--help or ./--version.\n"};

const ProgramInfo kSonvaultPointInfo = {
    "sonvault-point",
    "Usage: sonvault-point <image> [<song list address>]\n"
    "       sonvault-point --help | --version\n"
    "\n"
    "Points a Game Boy Advance cartridge image at a song list, such as the one sonvault\n"
    "appended in insert mode, so that the game plays that music. It shows the image's\n"
    "current song list, the new one and every word of the game that refers to the\n"
    "current list, asks y/n, and then rewrites exactly those words: the current list's\n"
    "address becomes the new address, and a word pointing inside the current list\n"
    "points to the same place in the new one. The image keeps its size.\n"
    "\n"
    "Without an address it asks for one; type it as sonvault printed it (0x09000004).\n"
    "A write that fails is undone.\n"
    "\n"
    "Every run ends by waiting for one key (Enter), so that a console window stays open.\n"
    "\n"
    "Exit status: 0 after a finished or declined run, or when the game already uses\n"
    "that song list; 1 after an error line.\n"
    "A file named --help or --version is reached as ./--help or ./--version.\n"};

const ProgramInfo kSonvaultSongsInfo = {
    "sonvault-songs",
    "Usage: sonvault-songs <image>                              list its songs\n"
    "       sonvault-songs <image> --wav <songs>...             render songs to WAV\n"
    "       sonvault-songs <source> <target image> <move>...    move songs\n"
    "       sonvault-songs --help | --version\n"
    "\n"
    "Lists the songs of a Game Boy Advance cartridge image or sound bank: its song list,\n"
    "its music players and their tracks, and for each song its player, tracks,\n"
    "priority, length, header, instrument list and the bytes a move of that song\n"
    "appends. Length is one pass through the song as m:ss, marked loop when the song\n"
    "loops; sound effects are the short ones.\n"
    "\n"
    "--wav renders songs as the game's sound engine plays them into WAV files (16-bit\n"
    "stereo, 48000 Hz) in the working folder, named after the image: song 13 of\n"
    "sa2.gba becomes sa2-13.wav. Name songs as moves do, ranges as 10-20, or all. A\n"
    "song that loops plays its loop twice and fades out; one that ends stops when its\n"
    "notes have died away. Each file is written whole under a temporary name first.\n"
    "\n"
    "Moves copy chosen songs of the source, with everything they use, onto the end of\n"
    "the target image after a y/n question. A move is K=N (song K of the source\n"
    "replaces song N of the target) or K=new (song K is added after the target's last\n"
    "song), either with :P to name the player that plays it (3=new:0). Songs are\n"
    "numbered from 0, in decimal or 0x hexadecimal. A replaced song keeps its place's\n"
    "player; added songs get a new, longer song list, and the game is pointed at it.\n"
    "Nothing else below the target's old end changes; a write that fails is undone.\n"
    "\n"
    "Every run ends by waiting for one key (Enter), so that a console window stays open.\n"
    "\n"
    "Exit status: 0 after a listing, \"Finished\" or \"Aborted\", 1 after an error line\n"
    "(for --wav: when a song could not be rendered; the others are still written).\n"
    "A file named --help or --version is reached as ./--help or ./--version.\n"};

bool PrintProgramInfo(const ProgramInfo& program, int argc, char** argv) {
  if (argc < 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(program.help, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", program.name, SONVAULT_VERSION);
    std::puts("Copyright (c) 2026 the Sonvault authors");
    std::puts("MIT License: free software, provided without warranty (see LICENSE).");
  } else {
    return false;
  }
  std::fflush(stdout);
  return true;
}
