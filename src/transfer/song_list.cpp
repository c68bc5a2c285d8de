#include "transfer/song_list.h"

#include "image/address.h"

bool TransferSongList(TransferState& state) {
  if (state.selection != nullptr) {
    for (state.SongCount = 0; state.SongCount < state.selection->count; ++state.SongCount) {
      SeekSource(state, SongEntryAddress(state, state.SongCount) + 4);
      if (!AppendU32(state, 0) || !AppendU32(state, ReadSourceU32(state))) return false;
    }
    return AppendU32(state, 0) && AppendU32(state, 0);
  }
  SeekSource(state, state.songListAddress);
  state.SongCount = 0;
  uint32_t pointer = ReadSourceU32(state);
  while (IsCartridgePointer(pointer)) {
    ++state.SongCount;
    if (!AppendU32(state, 0)) return false;
    if (!AppendU32(state, ReadSourceU32(state))) return false;
    pointer = ReadSourceU32(state);
  }
  return AppendU32(state, 0) && AppendU32(state, 0);
}
