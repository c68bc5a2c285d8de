// sonvault-songs: the songs of a game or bank, and moves of chosen songs into another game.
// "sonvault-songs <image>" lists the image's songs, its players and what moving each song costs.
// "sonvault-songs <image> --wav <songs>..." renders songs into WAV files.
// "sonvault-songs <source> <target> <move>..." shows the moves, asks y/n, then appends the chosen
// songs with everything they use to the target, rewrites the replaced song list entries and, when
// songs are added, writes a longer song list after the copy and points the game at it. Every run
// ends by reading one character. Returns 0 after a listing, a finished or declined move, all songs
// rendered, 1 after an error line. A first argument of exactly --help or --version prints that text
// and returns 0.
#pragma once

int RunSonvaultSongs(int argc, char** argv);
