// The console's lines in plain words: what each error line means and what to do, and the
// warnings the user is asked about.

export const decoder = new TextDecoder();
export const questionLine = 'Are you sure you wish to proceed? (y/n)\n';
export const bytesText = (count) => `${count.toLocaleString('en')} bytes`;
export const plural = (count, one, many) => `${count.toLocaleString('en')} ${count === 1 ? one : many}`;

// What sonvault-point prints before its question when nothing is amiss; any other line is
// news for the user, who then answers the question.
export const usualPointLines = [
  /^Sonvault Point, Release /,
  /^Image File: /,
  /^Song list now at: 0x[0-9A-F]{8} \(\d+ songs?\)$/,
  /^New song list at: 0x[0-9A-F]{8} \(\d+ songs?\)$/,
  /^References to the song list: \d+$/,
  /^ {2}at 0x[0-9A-F]{8}: 0x[0-9A-F]{8} -> 0x[0-9A-F]{8}( \(inside the list\))?$/,
  /^Are you sure you wish to proceed\? \(y\/n\)$/,
];

// What each error line of a program means, and what to do about it.
export const explanations = {
  sonvault: {
    'Error opening input file':
      'The source could not be read: choose it again.',
    'Could not locate audio data':
      'No music was found in the source: it is not a game with the usual sound engine, or the ' +
      'image is damaged. Choose another source.',
    'Error opening output file':
      'The result could not be written inside the browser: reload the page and try again.',
    'Error: output exceeds the 32 MiB cartridge space':
      'The result would not fit in a 32 MiB cartridge: choose a smaller target, or a source ' +
      'with less music.',
    'Error: too many distinct blocks (more than 1024)':
      'The source has more songs or instruments than the tool can copy (over 1024 of one ' +
      'kind), so its music cannot be moved.',
    'Error: track data runs past the end of the input file':
      'A song in the source is cut off by the end of the file: the image is incomplete or ' +
      'damaged. Try a complete copy of it.',
    'Error writing output file':
      'Writing the result failed, most likely because the browser ran out of memory: close ' +
      'other tabs and try again.',
    'Error: the target image could not be restored':
      'The copy of the target could not be put back as it was; it is not offered.',
  },
  'sonvault-point': {
    'Error opening image file': 'The copy could not be opened for pointing: insert again.',
    'Error reading image file': 'The copy could not be read for pointing: insert again.',
    'Could not locate audio data':
      'The game\'s own song list was not found, so the game cannot be pointed at the new one.',
    'Error: the address lies outside the image': 'The new song list lies outside the game.',
    'Error: the address is not a multiple of 4; the sound engine cannot read a song list there':
      'The new song list does not start on a multiple of 4, where the game cannot read it.',
    'Error: no song list there: its first entry is not a song':
      'What lies at the new address is not a song list.',
    'Error: no reference to the current song list found':
      'The game\'s code does not name its song list in a way this tool can change, so it ' +
      'cannot be pointed here.',
    'Error: too many references to the current song list (more than 1024)':
      'The game names its song list in more places than this tool can change (over 1024).',
    'Error writing image file':
      'Writing the pointed copy failed, most likely because the browser ran out of memory.',
    'Error: the image could not be restored': 'The pointed copy could not be put back as it was.',
  },
  'sonvault-songs': {
    'Error opening input file': 'The source could not be read: choose it again.',
    'Could not locate audio data':
      'No song list was found in the source: it is not a game with the usual sound engine, or ' +
      'the image is damaged.',
    'Could not locate audio data in the target':
      'No song list was found in the target, so no song can be moved into it.',
    'Error: output exceeds the 32 MiB cartridge space':
      'The result would not fit in a 32 MiB cartridge: move fewer songs, or choose a smaller target.',
    'Error: no reference to the target\'s song list found, so added songs cannot be reached':
      'The target\'s code does not name its song list in a way this tool can change, so songs ' +
      'cannot be added to it; replacing its songs still works.',
    'Error writing output file':
      'Writing the result failed, most likely because the browser ran out of memory: close ' +
      'other tabs and try again.',
    'Error: the target image could not be restored':
      'The copy of the target could not be put back as it was; it is not offered.',
  },
};

// sonvault-point's lines the user is asked about, in plain words.
export function plainWarning(line) {
  const fewer = /^Warning: the new list has (\d+) songs?, the current one (\d+): the game may start songs past its end$/.exec(line);
  if (!fewer) return `sonvault-point says: “${line}”`;
  const [, added, own] = fewer;
  return `The inserted music has ${added} song${added === '1' ? '' : 's'}, the game's own list ` +
         `${own}: where the game starts a song past the ${added === '1' ? 'first' : `first ${added}`}, ` +
         'it reads beyond the end of the new list and may play noise or stop working.';
}

// A moved song that has more tracks than its player in the target plays: what the game will
// do, and whether another player of the target would hold them all.
export function trackWarning(song, tracks, player, plays, biggest) {
  const more = biggest !== null && biggest < tracks
    ? ` No player of the target holds ${tracks} tracks: its biggest plays ${biggest}.` : '';
  return `Song ${song} has ${tracks} tracks, but player ${player}, which plays it in the target, ` +
         `has ${plays}: the game will play only its first ${plays === 1 ? 'track' : `${plays} tracks`}, ` +
         `and the song may sound thin.${more}`;
}

// The error lines of a run in plain words, or its last line when none is known.
export function explain(program, transcript) {
  const meaning = explanations[program];
  const lines = transcript.split('\n');
  const said = lines.filter((line) => Object.hasOwn(meaning, line)).map((line) => meaning[line]);
  const last = lines.filter((line) => line !== '').pop() || '';
  return { said, last };
}

// A song's length as the listing gives it: "2:05 loop", "long", or nothing.
export function lengthText(song) {
  if (song.seconds === null) return '';
  const time = song.seconds === Infinity ? 'long'
    : `${Math.floor(song.seconds / 60)}:${String(song.seconds % 60).padStart(2, '0')}`;
  return song.loops ? `${time} loop` : time;
}
