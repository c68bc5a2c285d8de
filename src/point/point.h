// sonvault-point: points a game image at a song list, so the game plays the music inserted there.
// "sonvault-point <image> [<song list address>]" (the address asked for when not given) finds the
// image's current song list, shows it, the new one and every reference to the current one, asks
// y/n, then rewrites those references and nothing else. Every run ends by reading one character.
// Returns the exit status: 0 after a finished, declined or empty run, 1 after an error line.
// A first argument of exactly --help or --version prints that text instead and returns 0.
#pragma once

int RunSonvaultPoint(int argc, char** argv);
