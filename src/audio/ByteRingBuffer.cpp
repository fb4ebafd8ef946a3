#include "audio/ByteRingBuffer.h"

#include "common/Kernel.h"

#include <cstring>
#include <memory>
#include <new>

namespace tesmo {

namespace {
// Cache-line aligned storage: memcpy into a buffer 16 bytes off a line boundary is
// several times slower on some processors.
constexpr std::align_val_t kStorageAlignment{64};

unsigned char* AllocateStorage(int64_t bytes) {
  return static_cast<unsigned char*>(
      ::operator new[](static_cast<size_t>(bytes), kStorageAlignment));
}

void FreeStorage(unsigned char* storage) { ::operator delete[](storage, kStorageAlignment); }

// Copies `length` bytes in or out of a ring of `capacity` bytes at `offset`, in at
// most two pieces, and returns the offset behind them.
int64_t CopyIn(unsigned char* storage, int64_t capacity, int64_t offset, const unsigned char* bytes,
               int64_t length) {
  const int64_t toEnd = capacity - offset;
  if (length < toEnd) {
    std::memcpy(storage + offset, bytes, static_cast<size_t>(length));
    return offset + length;
  }
  std::memcpy(storage + offset, bytes, static_cast<size_t>(toEnd));
  std::memcpy(storage, bytes + toEnd, static_cast<size_t>(length - toEnd));
  return length - toEnd;
}

int64_t CopyOut(const unsigned char* storage, int64_t capacity, int64_t offset, unsigned char* out,
                int64_t length) {
  const int64_t toEnd = capacity - offset;
  if (length < toEnd) {
    std::memcpy(out, storage + offset, static_cast<size_t>(length));
    return offset + length;
  }
  std::memcpy(out, storage + offset, static_cast<size_t>(toEnd));
  std::memcpy(out + toEnd, storage, static_cast<size_t>(length - toEnd));
  return length - toEnd;
}
}  // namespace

ByteRingBuffer::ByteRingBuffer(int32_t maxCapacity, bool processBarrier)
    : layout(nullptr), maxCapacity(maxCapacity), processBarrier(processBarrier) {
  unsigned char* storage = AllocateStorage(kInitialCapacity);
  try {
    layout.store(new Layout{storage, kInitialCapacity, 0, 0}, std::memory_order_release);
  } catch (...) {
    FreeStorage(storage);
    throw;
  }
}

ByteRingBuffer::~ByteRingBuffer() {
  Layout* current = layout.load(std::memory_order_acquire);
  FreeStorage(current->storage);
  delete current;
  for (Layout* old : retired) {
    FreeStorage(old->storage);
    delete old;
  }
}

void ByteRingBuffer::Write(const void* data, uint32_t length) {
  Layout* current = layout.load(std::memory_order_relaxed);  // only this thread stores it
  const uint64_t written = writeTotal.load(std::memory_order_relaxed);
  // The reader is looked at again only when what was last seen of it leaves too
  // little room: its line stays where it is meanwhile.
  auto used = static_cast<int64_t>(written - seenKeptFrom);
  if (current->capacity - used <= static_cast<int64_t>(length)) {
    const uint64_t kept = KeptFrom();
    if (kept > seenKeptFrom) seenKeptFrom = kept;
    used = static_cast<int64_t>(written - seenKeptFrom);
  }
  // Never fill the ring completely; grow by doubling until the bytes fit, in one step.
  int64_t needed = current->capacity;
  while (needed - used <= static_cast<int64_t>(length)) needed *= 2;
  if (needed != current->capacity) {
    Grow(needed);
    current = layout.load(std::memory_order_relaxed);
  } else if (!retired.empty()) {
    FreeRetiredLayouts();
  }
  writeOffset = CopyIn(current->storage, current->capacity, writeOffset,
                       static_cast<const unsigned char*>(data), length);
  // Publishes the bytes: the reader loads writeTotal before it copies them.
  writeTotal.store(written + length, std::memory_order_release);
}

uint64_t ByteRingBuffer::KeptFrom() const {
  const uint64_t cleared = clearMark.load(std::memory_order_seq_cst);
  const uint64_t consumed = readTotal.load(std::memory_order_acquire);
  if (cleared <= consumed) return consumed;
  // The mark first, then a barrier, then readerBusy: a Read whose readerBusy this
  // misses had not looked at clearMark before the barrier, so it sees this mark or a
  // later one and begins there. A Read that ended has stored readTotal and handed
  // its bytes back (the release of readerBusy). Rare: only when space runs short
  // after a Clear. The barrier reaches into the reader's thread where the system
  // has one; elsewhere the reader's store and these loads are sequentially
  // consistent, which orders them all the same.
  if (processBarrier) ProcessWideMemoryBarrier();
  const bool reading = readerBusy.load(std::memory_order_seq_cst);
  const uint64_t consumedNow = readTotal.load(std::memory_order_acquire);
  if (reading) return consumedNow;
  return cleared > consumedNow ? cleared : consumedNow;
}

void ByteRingBuffer::Grow(int64_t newCapacity) {
  // Checked before allocating, so a hopeless write costs nothing.
  if (newCapacity > maxCapacity) throw std::bad_alloc();
  Layout* old = layout.load(std::memory_order_relaxed);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> storage(AllocateStorage(newCapacity),
                                                                   &FreeStorage);
  // Only the bytes that may still be read move: not those a Clear discarded.
  const uint64_t kept = KeptFrom();
  const uint64_t base = kept > seenKeptFrom ? kept : seenKeptFrom;
  const uint64_t written = writeTotal.load(std::memory_order_relaxed);
  auto grown = std::make_unique<Layout>(Layout{storage.get(), newCapacity, base, old->epoch + 1});
  retired.reserve(retired.size() + 1);  // throws before anything changes
  // The unread bytes go to the start of the new storage, in order.
  const auto unread = static_cast<int64_t>(written - base);
  CopyOut(old->storage, old->capacity, old->Offset(base), grown->storage, unread);
  storage.release();
  retired.push_back(old);
  seenKeptFrom = base;
  layout.store(grown.release(), std::memory_order_release);
  writeOffset = unread;
}

void ByteRingBuffer::FreeRetiredLayouts() {
  // Layouts older than the one the reader last used are never looked at again.
  const uint64_t inUse = readerEpoch.load(std::memory_order_acquire);
  size_t kept = 0;
  for (Layout* old : retired) {
    if (old->epoch < inUse) {
      FreeStorage(old->storage);
      delete old;
    } else {
      retired[kept++] = old;
    }
  }
  retired.resize(kept);
}

int32_t ByteRingBuffer::Read(void* dest, int32_t length) {
  if (length < 0) return -1;
  // Raised before clearMark is looked at, so that a writer which finds it lowered
  // may reuse the space a Clear discarded: this Read begins at the writer's mark or
  // after it. Where the writer has a process-wide barrier, it holds the processor
  // to this order and only the compiler is held here, so a Read costs no fence.
  if (processBarrier) {
    readerBusy.store(true, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
  } else {
    readerBusy.store(true, std::memory_order_seq_cst);
  }
  uint64_t from = readTotal.load(std::memory_order_relaxed);  // only this thread stores it
  const uint64_t cleared = clearMark.load(std::memory_order_seq_cst);
  // writeTotal first (here, or when it was last loaded): the layout loaded after it
  // holds every byte it counts. Looked at again only when the bytes last seen do
  // not suffice, so the writer's line stays where it is meanwhile.
  const uint64_t start = cleared > from ? cleared : from;
  if (seenWriteTotal < start || seenWriteTotal - start < static_cast<uint64_t>(length))
    seenWriteTotal = writeTotal.load(std::memory_order_acquire);
  const uint64_t written = seenWriteTotal;
  const Layout* current = layout.load(std::memory_order_acquire);
  const bool skipped = cleared > from;
  if (skipped) from = cleared;
  // Only this thread stores readerEpoch: a new layout needs the offset anew.
  const bool newLayout = current->epoch != readerEpoch.load(std::memory_order_relaxed);
  if (skipped || newLayout) readOffset = current->Offset(from);
  const bool enough = written >= from && written - from >= static_cast<uint64_t>(length);
  if (enough) {
    readOffset = CopyOut(current->storage, current->capacity, readOffset,
                         static_cast<unsigned char*>(dest), length);
    from += static_cast<uint64_t>(length);
  }
  // Hands the space back to the writer, and with it what a Clear discarded.
  if (enough || skipped) readTotal.store(from, std::memory_order_release);
  if (newLayout) readerEpoch.store(current->epoch, std::memory_order_release);
  readerBusy.store(false, std::memory_order_release);
  return enough ? 0 : -1;
}

void ByteRingBuffer::Clear() {
  const uint64_t mark = writeTotal.load(std::memory_order_acquire);
  uint64_t previous = clearMark.load(std::memory_order_relaxed);
  while (previous < mark &&
         !clearMark.compare_exchange_weak(previous, mark, std::memory_order_seq_cst)) {
  }
}

uint64_t ByteRingBuffer::UnreadFrom() const {
  const uint64_t consumed = readTotal.load(std::memory_order_acquire);
  const uint64_t cleared = clearMark.load(std::memory_order_acquire);
  return consumed > cleared ? consumed : cleared;
}

int32_t ByteRingBuffer::Count() const {
  // The start first: writeTotal, loaded after, is never below it.
  const uint64_t from = UnreadFrom();
  const uint64_t written = writeTotal.load(std::memory_order_acquire);
  return written > from ? static_cast<int32_t>(written - from) : 0;
}

bool ByteRingBuffer::ReaderHasMoreThan(int32_t bytes) {
  const uint64_t from = UnreadFrom();
  if (seenWriteTotal > from && seenWriteTotal - from > static_cast<uint64_t>(bytes)) return true;
  seenWriteTotal = writeTotal.load(std::memory_order_acquire);
  return seenWriteTotal > from && seenWriteTotal - from > static_cast<uint64_t>(bytes);
}

bool ByteRingBuffer::WriterHasAtMost(int32_t bytes) {
  const uint64_t written = writeTotal.load(std::memory_order_relaxed);
  const uint64_t cleared = clearMark.load(std::memory_order_acquire);
  auto unread = [&] {
    const uint64_t from = seenKeptFrom > cleared ? seenKeptFrom : cleared;
    return written > from ? written - from : 0;
  };
  if (unread() <= static_cast<uint64_t>(bytes)) return true;
  const uint64_t consumed = readTotal.load(std::memory_order_acquire);
  if (consumed > seenKeptFrom) seenKeptFrom = consumed;
  return unread() <= static_cast<uint64_t>(bytes);
}

int32_t ByteRingBuffer::Capacity() const {
  return static_cast<int32_t>(layout.load(std::memory_order_acquire)->capacity);
}

int32_t ByteRingBuffer::ReadPos() const {
  return static_cast<int32_t>(layout.load(std::memory_order_acquire)->Offset(UnreadFrom()));
}

int32_t ByteRingBuffer::WritePos() const {
  const uint64_t written = writeTotal.load(std::memory_order_acquire);
  return static_cast<int32_t>(layout.load(std::memory_order_acquire)->Offset(written));
}

}  // namespace tesmo
