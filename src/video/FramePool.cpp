#include "video/FramePool.h"

#include <new>
#include <utility>

namespace tesmo {

namespace {
void FreeAll(std::set<unsigned char*>& buffers) {
  for (unsigned char* buffer : buffers) delete[] buffer;
  buffers.clear();
}
}  // namespace

FramePool::FramePool() = default;

FramePool::~FramePool() {
  ScopedLock hold(lock);
  ResetBlockSize(-1);
  FreeAll(retiredBuffers);
}

unsigned char* FramePool::Acquire() {
  ScopedLock hold(lock);
  const int32_t size = blockSize.load(std::memory_order_relaxed);
  if (size < 1) return nullptr;
  if (!freeBuffers.empty()) {
    // Moving the node between sets allocates nothing, so reuse cannot fail.
    auto node = freeBuffers.extract(freeBuffers.begin());
    unsigned char* buffer = node.value();
    inUseBuffers.insert(std::move(node));
    ++reuseCount;
    return buffer;
  }
  auto* buffer = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
  if (!buffer) return nullptr;
  try {
    inUseBuffers.insert(buffer);
  } catch (const std::bad_alloc&) {
    delete[] buffer;  // no node for it: the pool stays as it was
    return nullptr;
  }
  reuseCount = 0;
  return buffer;
}

unsigned char* FramePool::AcquireFor(int32_t length) {
  ScopedLock hold(lock);
  // One byte to spare, except for a frame of the largest length there is.
  if (length > blockSize.load(std::memory_order_relaxed))
    ResetBlockSize(length < INT32_MAX ? length + 1 : length);
  return Acquire();
}

void FramePool::Recycle(unsigned char* buffer) {
  if (!buffer) return;
  ScopedLock hold(lock);
  if (auto inUse = inUseBuffers.find(buffer); inUse != inUseBuffers.end()) {
    freeBuffers.insert(inUseBuffers.extract(inUse));
  } else if (auto retired = retiredBuffers.find(buffer); retired != retiredBuffers.end()) {
    retiredBuffers.erase(retired);
    delete[] buffer;
  }
  Trim();
}

void FramePool::Trim() {
  ScopedLock hold(lock);
  if (reuseCount < kTrimReuses) return;
  const int32_t allowance = kSparePercent * static_cast<int32_t>(inUseBuffers.size()) / 100;
  if (static_cast<int64_t>(freeBuffers.size()) <= allowance) return;
  size_t toFree = freeBuffers.size() / 4;
  while (toFree-- > 0 && !freeBuffers.empty()) {
    delete[] * freeBuffers.begin();
    freeBuffers.erase(freeBuffers.begin());
  }
  // Also when nothing was freed (fewer than 4 free): the damping still applies.
  reuseCount -= kTrimReuses;
}

void FramePool::ResetBlockSize(int32_t newBlockSize) {
  ScopedLock hold(lock);
  FreeAll(freeBuffers);
  // Addresses are unique across the sets, so merging moves every node and
  // allocates nothing.
  retiredBuffers.merge(inUseBuffers);
  reuseCount = 0;
  blockSize.store(newBlockSize, std::memory_order_release);
}

size_t FramePool::FreeCount() const {
  ScopedLock hold(lock);
  return freeBuffers.size();
}

size_t FramePool::InUseCount() const {
  ScopedLock hold(lock);
  return inUseBuffers.size();
}

size_t FramePool::RetiredCount() const {
  ScopedLock hold(lock);
  return retiredBuffers.size();
}

int32_t FramePool::ReuseCount() const {
  ScopedLock hold(lock);
  return reuseCount;
}

bool FramePool::IsInUse(const unsigned char* buffer) const {
  ScopedLock hold(lock);
  return inUseBuffers.count(const_cast<unsigned char*>(buffer)) != 0;
}

bool FramePool::IsRetired(const unsigned char* buffer) const {
  ScopedLock hold(lock);
  return retiredBuffers.count(const_cast<unsigned char*>(buffer)) != 0;
}

std::vector<const unsigned char*> FramePool::FreeBuffers() const {
  ScopedLock hold(lock);
  return {freeBuffers.begin(), freeBuffers.end()};
}

}  // namespace tesmo
