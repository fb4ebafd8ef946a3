// Growable circular byte store between exactly one writer, the streaming thread
// (Write), and exactly one reader, the audio delivery thread (Read). Clear and Count
// may be called from any thread.
//
// No lock on any path. Stream positions are 64-bit totals that only grow:
// writeTotal (bytes ever written, stored by the writer), readTotal (bytes ever
// consumed, stored by the reader) and clearMark (the writeTotal at the last Clear,
// stored by Clear). The unread bytes are [max(readTotal, clearMark), writeTotal).
// - The writer reuses the space behind the reader's own position, and also the
//   space a Clear discarded once it has seen the reader outside a Read: a Read
//   raises readerBusy before it looks at clearMark, so one that starts later begins
//   at or after the mark the writer saw (where the system has a process-wide
//   barrier the writer puts every thread through it between the two looks, so the
//   reader pays no fence; elsewhere both sides' accesses are sequentially
//   consistent). While
//   a Read is running the discarded bytes keep their space, since the reader may
//   still be copying them.
// - Growth is the writer's: it copies the unread bytes into new storage, publishes
//   the new Layout and keeps the old one until the reader has acknowledged a newer
//   one, so a Read that began on the old storage finishes there safely. The reader
//   loads writeTotal before the layout, so bytes written into new storage are never
//   looked for in old storage.
// Every admitted byte is read once and in order, unless a Clear discarded it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Kernel.h"

namespace tesmo {

class ByteRingBuffer {
public:
  static constexpr int32_t kInitialCapacity = 230400;
  // Growth that would pass this bound fails like an allocation; the default only
  // keeps the doubled capacity inside 32 bits.
  static constexpr int32_t kMaxCapacity = INT32_MAX;

  // processBarrier: whether the writer may use the system's process-wide barrier
  // (where it has one); false orders both sides sequentially consistently.
  explicit ByteRingBuffer(
      int32_t maxCapacity = kMaxCapacity,
      bool processBarrier = HasProcessWideMemoryBarrier());  // throws std::bad_alloc
  ~ByteRingBuffer();
  ByteRingBuffer(const ByteRingBuffer&) = delete;
  ByteRingBuffer& operator=(const ByteRingBuffer&) = delete;

  // Writer only. Appends all bytes behind the unread data, doubling the storage as
  // often as needed (it is never filled completely, and grows only when the unread
  // bytes and this write do not fit). Throws std::bad_alloc when the storage cannot
  // grow, leaving the ring as it was.
  void Write(const void* data, uint32_t length);
  // Reader only. Copies exactly the `length` oldest bytes to dest and removes them,
  // returning 0; returns -1 and changes nothing when fewer are stored.
  int32_t Read(void* dest, int32_t length);
  // Any thread. Discards every byte written so far; the read position moves to the
  // write position, the writer may reuse their space at once (unless a Read is
  // copying them), and the storage keeps its grown size.
  void Clear();

  // Any thread: the unread bytes, a snapshot.
  int32_t Count() const;
  // The same for the two ends' quick tests, from what each last saw of the other
  // end, looked at again only when that would say no: the reader's "are there more
  // than `bytes`?" and the writer's "are there at most `bytes`?". Each is exact when
  // it answers no to the reader or yes to the writer only after a fresh look, so no
  // data is held back and nothing is dropped for a stale position.
  bool ReaderHasMoreThan(int32_t bytes);
  bool WriterHasAtMost(int32_t bytes);

  // Observers for tests and diagnostics, meaningful while neither end moves: the
  // storage size and the offsets in it of the next byte to read and to write.
  int32_t Capacity() const;
  int32_t ReadPos() const;
  int32_t WritePos() const;

private:
  // One storage array and how stream positions map into it: offset (position -
  // base) mod capacity.
  struct Layout {
    unsigned char* storage;
    int64_t capacity;
    uint64_t base;
    uint64_t epoch;  // counts the layouts, from 0
    int64_t Offset(uint64_t position) const {
      return static_cast<int64_t>((position - base) % static_cast<uint64_t>(capacity));
    }
  };

  // Writer: a layout of newCapacity bytes holding the unread bytes first, in order.
  void Grow(int64_t newCapacity);
  // Writer: frees the layouts the reader no longer uses.
  void FreeRetiredLayouts();
  uint64_t UnreadFrom() const;  // max(readTotal, clearMark)
  // Writer: the oldest position whose space it must keep, from a fresh look at the
  // reader: clearMark when the reader is outside a Read and behind the mark, else
  // readTotal (also where the system has no process-wide barrier).
  uint64_t KeptFrom() const;

  // What each side stores lives on a cache line of its own, so the writer's stores
  // do not keep taking the reader's line away, and the other way round.
  static constexpr size_t kLine = 64;

  // Written by the writer.
  alignas(kLine) std::atomic<uint64_t> writeTotal{0};
  std::atomic<Layout*> layout;
  const int32_t maxCapacity;
  std::vector<Layout*> retired;  // writer only
  int64_t writeOffset = 0;       // writer only
  uint64_t seenKeptFrom = 0;     // writer only: KeptFrom() as last loaded
  // Written by the reader.
  alignas(kLine) std::atomic<uint64_t> readTotal{0};
  // The layout the reader last used, and readTotal's offset in it (reader only).
  std::atomic<uint64_t> readerEpoch{0};
  // Raised for the length of each Read, before it looks at clearMark.
  std::atomic<bool> readerBusy{false};
  // Whether the writer's rare barrier reaches the reader's thread (Linux), or both
  // sides order their accesses sequentially consistently (Windows). On the reader's line: it reads it on every Read.
  const bool processBarrier;
  int64_t readOffset = 0;
  uint64_t seenWriteTotal = 0;  // reader only: writeTotal as last loaded
  // Written by Clear.
  alignas(kLine) std::atomic<uint64_t> clearMark{0};
};

}  // namespace tesmo
