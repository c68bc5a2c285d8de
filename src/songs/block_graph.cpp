#include "songs/block_graph.h"

#include <algorithm>
#include <iterator>

#include "image/address.h"
#include "image/stream_io.h"
#include "transfer/frame.h"
#include "transfer/instrument_lists.h"

namespace {

constexpr uint32_t kTrackEnd = 0xB1;
constexpr uint32_t kGoto = 0xB2;
constexpr uint32_t kPatternCall = 0xB3;
constexpr uint32_t kWaveTableType = 3;
constexpr uint32_t kNestedBits = 0xC0;
constexpr uint32_t kKeyMapBit = 0x40;
constexpr uint32_t kKeyMapSize = 128;
constexpr uint32_t kWaveTableSize = 16;

constexpr uint32_t kCheckpointStep = 256;
constexpr uint32_t kCheckpoints = kWindowSize / kCheckpointStep;
constexpr uint32_t kPastEndBit = 0x80000000u;

// The graph's capacities; past them a measure falls back to the engine.
constexpr uint32_t kMaxHeaders = kMaxSongs;
constexpr uint32_t kMaxLists = 8192;  // distinct lists as read: address, shape and key map
constexpr uint32_t kMaxBlocks = 16384;
constexpr uint32_t kMaxRefs = 1u << 18;

// A reference of a list: its kind in the top two bits, then a block's or a list's index.
constexpr uint32_t kSampleRef = 0u << 30;
constexpr uint32_t kWaveRef = 1u << 30;
constexpr uint32_t kKeyMapRef = 2u << 30;
constexpr uint32_t kListRef = 3u << 30;
constexpr uint32_t kKindMask = 3u << 30;
// A key map address of 0 is found in the table's first free slot and placed nowhere: it fails
// only when the table is full.
constexpr uint32_t kZeroKeyMap = kKeyMapRef | 0x3FFFFFFF;

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
};

// An address placed by the copy in one of its tables, with the walk's marks.
struct Placed {
  uint32_t address;
  uint32_t stamp;       // the measure that placed it
  uint32_t listStamp;   // the list whose references named it last
  uint32_t sampleSize;  // a block's size as a sample, 0 until read
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
  const ImageBytes* image;
  uint32_t listAddress;
  bool full;
  uint32_t epoch;
  TransferState reader;  // reads lists as the copy does
  InstrumentListEntries entries;
  uint32_t checkpoints[kCheckpoints];  // per 256th offset: end of a track through it, + 1
  Header headers[kMaxHeaders];
  IndexMap<kMaxHeaders> headerMap;
  ListNode lists[kMaxLists];
  IndexMap<kMaxLists> listMap;
  Placed listAddresses[kMaxLists];
  IndexMap<kMaxLists> listAddressMap;
  Placed blocks[kMaxBlocks];
  IndexMap<kMaxBlocks> blockMap;
  uint32_t refs[kMaxRefs];
  uint32_t refCount;
  uint32_t placedHeaders[kTableSlots];
  uint32_t placedLists[kTableSlots];
};
Graph gGraph;

// The word at a file offset; bytes past the image's end read as 0.
uint32_t WordAt(uint64_t offset) {
  const ImageBytes& image = *gGraph.image;
  if (offset + 4 <= image.size()) return LoadU32(image.data() + offset);
  uint32_t value = 0;
  for (uint64_t k = 0; k < 4 && offset + k < image.size(); ++k) {
    value |= static_cast<uint32_t>(image[offset + k]) << (8 * k);
  }
  return value;
}

uint32_t SampleDataLength(uint32_t lengthWord) {
  if ((lengthWord & 0x80000000u) == 0) return lengthWord;
  return (0x80000001u - (lengthWord & 0x7FFFFFFFu)) >> 1;
}

// Follows a track from offset start as the copy reads it, up to its end byte, or up to where the
// copy finds the source's end (kPastEndBit set): the offset after the last byte copied, + 1. With
// record set, every checkpoint passed learns that answer.
uint32_t FollowTrack(uint64_t start, uint32_t record) {
  const ImageBytes& image = *gGraph.image;
  const uint64_t size = image.size();
  const auto answer = [](uint64_t end, bool pastEnd) {
    return static_cast<uint32_t>(end + 1) | (pastEnd ? kPastEndBit : 0);
  };
  for (uint64_t at = start;;) {
    if (at % kCheckpointStep == 0 && at < kWindowSize) {
      uint32_t& known = gGraph.checkpoints[at / kCheckpointStep];
      if (known != 0) return known;
      known = record;
    }
    if (at >= size) return answer(at, true);
    const uint32_t command = image[at++];
    if (command == kGoto || command == kPatternCall) {
      if (at + 4 > size) return answer(at, true);
      at += 4;
    }
    if (command == kTrackEnd) return answer(at, false);
  }
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
    const uint32_t end = FollowTrack(start, 0);
    FollowTrack(start, end);
    header.size += ((end & ~kPastEndBit) - 1) - start;
    header.pastEnd = (end & kPastEndBit) != 0;
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
  placed[map.count] = {address, 0, 0, 0};
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
  graph.lists[graph.listMap.count] = {address, keyMap, shape, false, addressIndex, 0, 0, 0};
  slot = ++graph.listMap.count;
  return slot - 1;
}

// Whether a block lies wholly inside the source, as the copy asks past a list's first invalid
// entry.
bool SourceHoldsBlock(uint32_t data, bool waveTable) {
  if (!IsCartridgePointer(data)) return false;
  const uint64_t start = FileOffset(data);
  const uint64_t size = gGraph.image->size();
  uint64_t length = 16;
  if (!waveTable) {
    if (start + length > size) return false;
    const uint32_t lengthWord = WordAt(start + 12);
    length += lengthWord == 0 ? 8 : SampleDataLength(lengthWord);
  }
  return start + length <= size;
}

// Appends a reference to the list's references unless the list already names that block: a
// second reference to a block finds it placed.
bool AddRef(ListNode& node, uint32_t ref, Placed* named) {
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
  ReadInstrumentList(graph.reader, node.address, node.shape, node.keyMap, list);
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
      if (!SourceHoldsBlock(data, waveTable)) continue;
    }
    if (!IsCartridgePointer(data)) continue;
    if (waveTable || ((word0 & kNestedBits) == 0 && typeNumber == 0)) {
      const uint32_t block = PlacedIndex(graph.blocks, graph.blockMap, data);
      ok = block != kMaxBlocks &&
           AddRef(node, (waveTable ? kWaveRef : kSampleRef) | block, &graph.blocks[block]);
    } else if ((word0 & kNestedBits) != 0) {
      const bool split = (word0 & kKeyMapBit) != 0;
      const uint32_t nested =
          ListIndex(data, split ? ListShape::kKeySplit : ListShape::kDrumKit, third);
      ok = nested != kMaxLists &&
           AddRef(node, kListRef | nested, &graph.listAddresses[graph.lists[nested].addressIndex]);
      if (ok && split && third == 0) ok = AddRef(node, kZeroKeyMap, nullptr);
      if (ok && split && third != 0) {
        const uint32_t block = PlacedIndex(graph.blocks, graph.blockMap, third);
        ok = block != kMaxBlocks && AddRef(node, kKeyMapRef | block, &graph.blocks[block]);
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
  Placed& address = graph.listAddresses[node.addressIndex];
  if (address.stamp == graph.epoch) return true;
  if (TableFull(walk, walk.lists)) return false;
  if (!node.built && !BuildList(node)) {
    graph.full = true;
    return false;
  }
  address.stamp = graph.epoch;
  graph.placedLists[walk.lists++] = index;
  return Place(walk, node.size);
}

// Places what one reference names unless the copy has.
bool PlaceRef(Walk& walk, uint32_t ref) {
  Graph& graph = gGraph;
  const uint32_t kind = ref & kKindMask;
  if (kind == kListRef) return PlaceList(walk, ref & ~kKindMask);
  if (ref == kZeroKeyMap) return !TableFull(walk, walk.blocks);
  Placed& block = graph.blocks[ref & ~kKindMask];
  if (block.stamp == graph.epoch) return true;
  if (TableFull(walk, walk.blocks)) return false;
  block.stamp = graph.epoch;
  ++walk.blocks;
  if (kind == kWaveRef) return Place(walk, kWaveTableSize);
  if (kind == kKeyMapRef) return Place(walk, kKeyMapSize);
  if (block.sampleSize == 0) {
    const uint32_t lengthWord = WordAt(FileOffset(block.address) + 12);
    const uint32_t guard = (lengthWord & 0x80000000u) == 0 ? 1 : 0;
    block.sampleSize = lengthWord == 0 ? 24 : 16 + SampleDataLength(lengthWord) + guard;
  }
  return Place(walk, block.sampleSize);
}

// Places the song headers, their lists and what those name, as the copy's four phases do.
bool WalkSongs(Walk& walk, const SongSelection* selection, uint32_t songCount) {
  Graph& graph = gGraph;
  if (!Place(walk, 8 * (uint64_t{songCount} + 1))) return false;
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
      if (!PlaceRef(walk, graph.refs[r])) return false;
    }
  }
  return true;
}

}  // namespace

void StartBlockGraph(const ImageBytes& image, uint32_t listAddress) {
  Graph& graph = gGraph;
  graph.image = &image;
  graph.listAddress = listAddress;
  graph.full = false;
  graph.epoch = 0;
  graph.reader = TransferState{};
  graph.reader.sourceBytes = image.data();
  graph.reader.sourceSize = image.size();
  std::fill(std::begin(graph.checkpoints), std::end(graph.checkpoints), 0u);
  graph.headerMap.Clear();
  graph.listMap.Clear();
  graph.listAddressMap.Clear();
  graph.blockMap.Clear();
  graph.refCount = 0;
}

bool BlockGraphIsOn(const ImageBytes& image, uint32_t listAddress) {
  const Graph& graph = gGraph;
  return graph.image == &image && graph.reader.sourceBytes == image.data() &&
         graph.reader.sourceSize == image.size() && graph.listAddress == listAddress;
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
  Walk walk{0, 0, 0, 0, TransferResult::kOk};
  const bool whole = WalkSongs(walk, selection, songCount);
  if (graph.full) {
    return MeasureAudioData(graph.image->data(), graph.image->size(), graph.listAddress, selection,
                            byteCount);
  }
  byteCount = static_cast<uint32_t>(std::min<uint64_t>(walk.cursor, kWindowSize));
  return whole ? TransferResult::kOk : walk.result;
}
