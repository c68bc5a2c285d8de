#include "songs/block_graph.h"

#include <algorithm>
#include <iterator>

#include "image/address.h"
#include "image/stream_io.h"
#include "songs/track_copies.h"
#include "transfer/frame.h"
#include "transfer/instrument_lists.h"

namespace {

constexpr uint32_t kWaveTableType = 3;
constexpr uint32_t kNestedBits = 0xC0;
constexpr uint32_t kKeyMapBit = 0x40;
constexpr uint32_t kKeyMapSize = 128;
constexpr uint32_t kWaveTableSize = 16;

constexpr uint32_t kListSpan = kMaxSplitEntries * kEntrySize;

// The graph's capacities; past them a measure falls back to the engine.
constexpr uint32_t kMaxHeaders = kMaxSongs;
constexpr uint32_t kMaxLists = 8192;  // distinct lists as read: address, shape and key map
constexpr uint32_t kMaxBlocks = 16384;
constexpr uint32_t kMaxRefs = 1u << 18;

// Marks of what a measure has placed: blocks first, then list addresses, then one never set.
constexpr uint32_t kListMarks = kMaxBlocks;
constexpr uint32_t kNeverMarked = kMaxBlocks + kMaxLists;

// A reference of a list: the mark of what it names, and a block's size, or a list's index with
// kListRef.
struct Ref {
  uint32_t mark;
  uint32_t what;
};
constexpr uint32_t kListRef = 0x80000000u;
// A key map address of 0 is found in the table's first free slot and placed nowhere: it fails
// only when the table is full.
constexpr uint32_t kZeroKeyMap = 0x40000000u;

struct Header {
  uint32_t address;
  uint32_t list;  // its instrument list pointer
  uint64_t size;  // the header and its tracks; with pastEnd, what is copied before the failure
  bool pastEnd;
  uint32_t stamp;
};

struct ListNode {
  uint32_t address;
  uint32_t keyMap;
  ListShape shape;
  bool built;
  uint32_t addressIndex;  // in listAddresses: the copy places a list by address alone
  uint32_t size;
  uint32_t refBegin;
  uint32_t refEnd;
  // What a song's list leads to when it is the only header's: kOk or kTooManyBlocks, the bytes
  // from the list's start (to where the tables filled); kOutputTooLarge while not known.
  TransferResult alone;
  uint64_t aloneBytes;
};

// An address placed by the copy in one of its tables, with the walk's marks.
struct Placed {
  uint32_t address;
  uint32_t listStamp;   // the list whose references named it last
  uint32_t lengthWord;  // a block's last header word as a sample, once lengthRead
  bool lengthRead;
};

// Open addressing over indices + 1 (0: free).
template <uint32_t kItems>
struct IndexMap {
  static constexpr uint32_t kSlots = 2 * kItems;
  uint32_t slots[kSlots];
  uint32_t count;

  void Clear() {
    std::fill(std::begin(slots), std::end(slots), 0u);
    count = 0;
  }
  // The slot holding the item that same names, or the free slot where it would go.
  template <typename Same>
  uint32_t& Find(uint32_t hash, Same same) {
    uint32_t at = (hash * 0x9E3779B1u) & (kSlots - 1);
    while (slots[at] != 0 && !same(slots[at] - 1)) at = (at + 1) & (kSlots - 1);
    return slots[at];
  }
};

struct Graph {
  ImageView* image;
  std::FILE* file;
  uint32_t serial;  // the opening of the view the graph was built on
  uint32_t listAddress;
  bool full;       // this measure needs more than the tables hold
  bool haveBytes;  // the image has been read into memory for the engine
  uint32_t epoch;
  TransferState reader;                        // reads lists as the copy does, from listBytes
  uint8_t listBytes[kListSpan + kKeyMapSize];  // a list's bytes, then its key map's
  InstrumentListEntries entries;
  Header headers[kMaxHeaders];
  IndexMap<kMaxHeaders> headerMap;
  ListNode lists[kMaxLists];
  IndexMap<kMaxLists> listMap;
  Placed listAddresses[kMaxLists];
  IndexMap<kMaxLists> listAddressMap;
  Placed blocks[kMaxBlocks];
  IndexMap<kMaxBlocks> blockMap;
  Ref refs[kMaxRefs];
  uint32_t marks[kNeverMarked + 1];  // the measure that placed each
  uint32_t refCount;
  uint32_t placedHeaders[kTableSlots];
  uint32_t placedLists[kTableSlots];
};
Graph gGraph;

// The word at a file offset; bytes past the image's end read as 0.
uint32_t WordAt(uint64_t offset) { return ViewU32(*gGraph.image, offset); }

uint32_t SampleDataLength(uint32_t lengthWord) {
  if ((lengthWord & 0x80000000u) == 0) return lengthWord;
  return (0x80000001u - (lengthWord & 0x7FFFFFFFu)) >> 1;
}

// Reads a header and measures its tracks.
void ReadHeader(Header& header) {
  const uint64_t at = FileOffset(header.address);
  const uint32_t trackCount = WordAt(at) & 0xFF;
  header.list = WordAt(at + 4);
  header.size = 8 + 4 * trackCount;
  header.pastEnd = false;
  header.stamp = 0;
  for (uint32_t t = 0; t < trackCount && !header.pastEnd; ++t) {
    const uint64_t start = FileOffset(WordAt(at + 8 + 4 * t));
    const TrackCopy copy = FollowTrack(*gGraph.image, start);
    header.size += copy.length;
    header.pastEnd = copy.pastEnd;
    // The copy of such a track leaves the window: nothing after it counts.
    if (copy.runsOn) break;
  }
}

// The index of the header at address, read on first sight; kMaxHeaders when the graph is full.
uint32_t HeaderIndex(uint32_t address) {
  Graph& graph = gGraph;
  uint32_t& slot = graph.headerMap.Find(
      address, [&](uint32_t i) { return graph.headers[i].address == address; });
  if (slot != 0) return slot - 1;
  if (graph.headerMap.count == kMaxHeaders) return kMaxHeaders;
  Header& header = graph.headers[graph.headerMap.count];
  header.address = address;
  ReadHeader(header);
  slot = ++graph.headerMap.count;
  return slot - 1;
}

// The index of address in one of the copy's tables; kMaxBlocks when the graph is full.
template <uint32_t kItems>
uint32_t PlacedIndex(Placed (&placed)[kItems], IndexMap<kItems>& map, uint32_t address) {
  uint32_t& slot = map.Find(address, [&](uint32_t i) { return placed[i].address == address; });
  if (slot != 0) return slot - 1;
  if (map.count == kItems) return kMaxBlocks;
  placed[map.count] = {address, 0, 0, false};
  slot = ++map.count;
  return slot - 1;
}

// The index of the list read at address with that shape; kMaxLists when the graph is full.
uint32_t ListIndex(uint32_t address, ListShape shape, uint32_t keyMap) {
  Graph& graph = gGraph;
  if (shape != ListShape::kKeySplit) keyMap = 0;
  uint32_t& slot =
      graph.listMap.Find(address ^ (keyMap * 31) ^ static_cast<uint32_t>(shape), [&](uint32_t i) {
        const ListNode& node = graph.lists[i];
        return node.address == address && node.shape == shape && node.keyMap == keyMap;
      });
  if (slot != 0) return slot - 1;
  const uint32_t addressIndex = PlacedIndex(graph.listAddresses, graph.listAddressMap, address);
  if (graph.listMap.count == kMaxLists || addressIndex == kMaxBlocks) return kMaxLists;
  graph.lists[graph.listMap.count] = {
      address, keyMap, shape, false, addressIndex, 0, 0, 0, TransferResult::kOutputTooLarge, 0};
  slot = ++graph.listMap.count;
  return slot - 1;
}

// The length word of the sample at the block's address, read once.
uint32_t LengthWord(Placed& block) {
  if (!block.lengthRead) block.lengthWord = WordAt(FileOffset(block.address) + 12);
  block.lengthRead = true;
  return block.lengthWord;
}

// What the copy of a sample at the block's address appends; any size past the window's is
// too large alike.
uint32_t SampleSize(Placed& block) {
  const uint32_t lengthWord = LengthWord(block);
  const uint32_t guard = (lengthWord & 0x80000000u) == 0 ? 1 : 0;
  const uint64_t size = lengthWord == 0 ? 24 : 16 + uint64_t{SampleDataLength(lengthWord)} + guard;
  return static_cast<uint32_t>(std::min<uint64_t>(size, kWindowSize + 1));
}

// Whether a sample or wave table lies wholly inside the source, as the copy asks before it follows
// one.
bool SourceHoldsBlock(uint32_t data, bool waveTable) {
  Graph& graph = gGraph;
  if (!IsCartridgePointer(data)) return false;
  const uint64_t start = FileOffset(data);
  const uint64_t size = graph.image->size;
  uint64_t length = 16;
  if (!waveTable) {
    if (start + length > size) return false;
    const uint32_t block = PlacedIndex(graph.blocks, graph.blockMap, data);
    const uint32_t lengthWord =
        block == kMaxBlocks ? WordAt(start + 12) : LengthWord(graph.blocks[block]);
    length += lengthWord == 0 ? 8 : SampleDataLength(lengthWord);
  }
  return start + length <= size;
}

// Appends a reference to the list's references unless the list already names that block: a
// second reference to a block finds it placed.
bool AddRef(ListNode& node, Ref ref, Placed* named) {
  Graph& graph = gGraph;
  if (named != nullptr) {
    if (named->listStamp == node.refBegin + 1) return true;
    named->listStamp = node.refBegin + 1;
  }
  if (graph.refCount == kMaxRefs) return false;
  graph.refs[graph.refCount++] = ref;
  return true;
}

// Reads the list's entries into the blocks they lead the copy to, in the copy's order; false when
// the graph is full.
bool BuildList(ListNode& node) {
  Graph& graph = gGraph;
  InstrumentListEntries& list = graph.entries;
  // The copy's own reading of a list, on its bytes (and its key map's) copied out of the image.
  std::copy_n(ViewBytes(*graph.image, FileOffset(node.address), kListSpan), kListSpan,
              graph.listBytes);
  uint32_t keyMap = 0;
  if (node.shape == ListShape::kKeySplit && node.keyMap != 0) {
    std::copy_n(ViewBytes(*graph.image, FileOffset(node.keyMap), kKeyMapSize), kKeyMapSize,
                graph.listBytes + kListSpan);
    keyMap = kCartridgeBase + kListSpan;
  }
  ReadInstrumentList(graph.reader, kCartridgeBase, node.shape, keyMap, list);
  node.size = kEntrySize * list.count;
  node.refBegin = graph.refCount;
  bool ok = true;
  for (uint32_t k = 0; k < list.count && ok; ++k) {
    const uint8_t* entry = list.bytes + kEntrySize * k;
    const uint32_t word0 = LoadU32(entry);
    const uint32_t data = LoadU32(entry + 4);
    const uint32_t third = LoadU32(entry + 8);
    const uint32_t typeNumber = word0 & 0x07;
    const bool waveTable = typeNumber == kWaveTableType;
    if (k >= list.validCount) {
      if (!IsValidInstrumentEntry(word0)) continue;
      if (node.shape == ListShape::kKeySplit && !list.named[k]) continue;
      if (!waveTable && ((word0 & kNestedBits) != 0 || typeNumber != 0)) continue;
    }
    if (!IsCartridgePointer(data)) continue;
    if (waveTable || ((word0 & kNestedBits) == 0 && typeNumber == 0)) {
      // One that does not lie in the source is copied as it stands, wherever its entry stands.
      if (!SourceHoldsBlock(data, waveTable)) continue;
      const uint32_t block = PlacedIndex(graph.blocks, graph.blockMap, data);
      ok = block != kMaxBlocks &&
           AddRef(node, {block, waveTable ? kWaveTableSize : SampleSize(graph.blocks[block])},
                  &graph.blocks[block]);
    } else if ((word0 & kNestedBits) != 0) {
      const bool split = (word0 & kKeyMapBit) != 0;
      const uint32_t nested =
          ListIndex(data, split ? ListShape::kKeySplit : ListShape::kDrumKit, third);
      if (nested != kMaxLists) {
        const uint32_t address = graph.lists[nested].addressIndex;
        ok = AddRef(node, {kListMarks + address, kListRef | nested}, &graph.listAddresses[address]);
      }
      ok = ok && nested != kMaxLists;
      if (ok && split && third == 0) ok = AddRef(node, {kNeverMarked, kZeroKeyMap}, nullptr);
      if (ok && split && third != 0) {
        const uint32_t block = PlacedIndex(graph.blocks, graph.blockMap, third);
        ok = block != kMaxBlocks && AddRef(node, {block, kKeyMapSize}, &graph.blocks[block]);
      }
    }
  }
  node.refEnd = graph.refCount;
  if (!ok) graph.refCount = node.refBegin;
  node.built = ok;
  return ok;
}

// The walk of one measure: the cursor as an offset from the copy's start.
struct Walk {
  uint64_t cursor;
  uint32_t headers;
  uint32_t lists;
  uint32_t blocks;
  TransferResult result;
};

// Places a block of size bytes; false when the copy would stop here.
bool Place(Walk& walk, uint64_t size) {
  walk.cursor = (walk.cursor + 3) / 4 * 4 + size;
  if (walk.cursor <= kWindowSize) return true;
  walk.result = TransferResult::kOutputTooLarge;
  return false;
}

bool TableFull(Walk& walk, uint32_t placed) {
  if (placed < kTableSlots) return false;
  walk.result = TransferResult::kTooManyBlocks;
  return true;
}

// Places the list unless the copy has; false when the copy stops or the graph is full.
bool PlaceList(Walk& walk, uint32_t index) {
  Graph& graph = gGraph;
  ListNode& node = graph.lists[index];
  uint32_t& mark = graph.marks[kListMarks + node.addressIndex];
  if (mark == graph.epoch) return true;
  if (TableFull(walk, walk.lists)) return false;
  if (!node.built && !BuildList(node)) {
    graph.full = true;
    return false;
  }
  mark = graph.epoch;
  graph.placedLists[walk.lists++] = index;
  return Place(walk, node.size);
}

// Places what one reference names, which the copy has not placed.
bool PlaceRef(Walk& walk, Ref ref) {
  Graph& graph = gGraph;
  if ((ref.what & kListRef) != 0) return PlaceList(walk, ref.what & ~kListRef);
  if (TableFull(walk, walk.blocks)) return false;
  if (ref.what == kZeroKeyMap) return true;
  graph.marks[ref.mark] = graph.epoch;
  ++walk.blocks;
  return Place(walk, ref.what);
}

// Places the song headers as the copy's second phase does.
bool WalkHeaders(Walk& walk, const SongSelection* selection, uint32_t songCount) {
  Graph& graph = gGraph;
  for (uint32_t i = 0; i < songCount; ++i) {
    const uint32_t song = selection == nullptr ? i : selection->songs[i];
    const uint32_t address = WordAt(FileOffset(graph.listAddress + 8 * song));
    if (address == 0) {
      if (TableFull(walk, walk.headers)) return false;
      continue;
    }
    const uint32_t index = HeaderIndex(address);
    if (index == kMaxHeaders) return !(graph.full = true);
    Header& header = graph.headers[index];
    if (header.stamp == graph.epoch) continue;
    if (TableFull(walk, walk.headers)) return false;
    header.stamp = graph.epoch;
    graph.placedHeaders[walk.headers++] = index;
    if (header.pastEnd) {
      walk.cursor = (walk.cursor + 3) / 4 * 4 + header.size;
      walk.result = walk.cursor > kWindowSize ? TransferResult::kOutputTooLarge
                                              : TransferResult::kTrackPastEnd;
      return false;
    }
    if (!Place(walk, header.size)) return false;
  }
  return true;
}

// Places the headers' lists and what those name, as the copy's last two phases do.
bool WalkLists(Walk& walk) {
  Graph& graph = gGraph;
  for (uint32_t j = 0; j < walk.headers; ++j) {
    const uint32_t list = graph.headers[graph.placedHeaders[j]].list;
    if (!IsCartridgePointer(list)) continue;
    const uint32_t index = ListIndex(list, ListShape::kPlain, 0);
    if (index == kMaxLists) return !(graph.full = true);
    if (!PlaceList(walk, index)) return false;
  }
  // Lists placed meanwhile join the walk behind the others.
  for (uint32_t q = 0; q < walk.lists; ++q) {
    const ListNode& node = graph.lists[graph.placedLists[q]];
    for (uint32_t r = node.refBegin; r < node.refEnd; ++r) {
      const Ref ref = graph.refs[r];
      if (graph.marks[ref.mark] != graph.epoch && !PlaceRef(walk, ref)) return false;
    }
  }
  return true;
}

// Places the song headers, their lists and what those name, as the copy's four phases do. With
// one header, what its list leads to depends on the list alone, and is kept with it: the bytes
// from the list's start on, or where the relocation tables filled up.
bool WalkSongs(Walk& walk, const SongSelection* selection, uint32_t songCount) {
  Graph& graph = gGraph;
  if (!Place(walk, 8 * (uint64_t{songCount} + 1))) return false;
  if (!WalkHeaders(walk, selection, songCount)) return false;
  const uint32_t list = walk.headers == 1 ? graph.headers[graph.placedHeaders[0]].list : 0;
  if (!IsCartridgePointer(list)) return WalkLists(walk);
  const uint32_t index = ListIndex(list, ListShape::kPlain, 0);
  if (index == kMaxLists) return !(graph.full = true);
  ListNode& node = graph.lists[index];
  const uint64_t start = (walk.cursor + 3) / 4 * 4;
  if (node.alone != TransferResult::kOutputTooLarge) {
    walk.cursor = start + node.aloneBytes;
    walk.result = walk.cursor > kWindowSize ? TransferResult::kOutputTooLarge : node.alone;
    return walk.result == TransferResult::kOk;
  }
  const bool whole = WalkLists(walk);
  // A walk that ran out of the window does not show where the rest would end.
  if (!graph.full && walk.result != TransferResult::kOutputTooLarge) {
    node.alone = walk.result;
    node.aloneBytes = walk.cursor - start;
  }
  return whole;
}

}  // namespace

void StartBlockGraph(ImageView& image, uint32_t listAddress) {
  Graph& graph = gGraph;
  graph.image = &image;
  graph.file = image.file;
  graph.serial = image.serial;
  graph.listAddress = listAddress;
  graph.full = false;
  graph.haveBytes = false;
  graph.epoch = 0;
  graph.reader = TransferState{};
  graph.reader.sourceBytes = graph.listBytes;
  graph.reader.sourceSize = sizeof graph.listBytes;
  StartTrackCopies(image);
  graph.headerMap.Clear();
  graph.listMap.Clear();
  graph.listAddressMap.Clear();
  graph.blockMap.Clear();
  graph.refCount = 0;
  std::fill(std::begin(graph.marks), std::end(graph.marks), 0u);
}

bool BlockGraphIsOn(const ImageView& image, uint32_t listAddress) {
  const Graph& graph = gGraph;
  return graph.image == &image && graph.serial == image.serial && graph.listAddress == listAddress;
}

TransferResult MeasureWithGraph(const SongSelection* selection, uint32_t& byteCount) {
  Graph& graph = gGraph;
  uint32_t songCount = 0;
  if (selection != nullptr) {
    songCount = selection->count;
  } else {
    // As the copy reads the list: up to the first entry that is no cartridge pointer.
    while (songCount <= kWindowSize / 8 &&
           IsCartridgePointer(WordAt(FileOffset(graph.listAddress + 8 * songCount)))) {
      ++songCount;
    }
  }
  ++graph.epoch;
  graph.full = false;
  Walk walk{0, 0, 0, 0, TransferResult::kOk};
  const bool whole = WalkSongs(walk, selection, songCount);
  if (graph.full) {
    // Only crafted images fill the tables; the engine measures them in memory.
    static ImageBytes bytes;
    if (!graph.haveBytes && !ReadImage(graph.file, bytes)) {
      graph.image->failed = true;
      return TransferResult::kReadFailed;
    }
    graph.haveBytes = true;
    return MeasureAudioData(bytes.data(), bytes.size(), graph.listAddress, selection, byteCount);
  }
  byteCount = static_cast<uint32_t>(std::min<uint64_t>(walk.cursor, kWindowSize));
  return whole ? TransferResult::kOk : walk.result;
}
