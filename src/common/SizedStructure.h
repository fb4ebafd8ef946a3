// The structures a host hands over with their own size in the first field, so that
// they can grow: a host built against an older, shorter structure gets exactly the
// fields it knows, and the size it wrote stays as it was.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>

#include "common/Kernel.h"

namespace tesmo {

// Whether `out` can take a structure at all: present, and room for its size field.
template <class Structure>
bool CanWriteSized(const Structure* out) {
  return out && out->size >= static_cast<int>(sizeof out->size);
}

// Writes `all` into `out`, no more than out->size bytes.
template <class Structure>
void WriteSized(Structure all, Structure* out) {
  all.size = out->size;
  std::memcpy(out, &all, std::min(sizeof all, static_cast<size_t>(out->size)));
}

// A structure's figures kept for its readers after the object closed by itself, until
// the next Open forgets them. Readers on any thread; the lock is held for a copy.
template <class Structure>
class KeptFigures {
public:
  void Keep(const Structure& figures) {
    ScopedLock hold(lock);
    kept = figures;
  }
  void Forget() {
    ScopedLock hold(lock);
    kept.reset();
  }
  // Writes the kept figures into `out` as WriteSized does; false when none are kept.
  bool WriteTo(Structure* out) const {
    ScopedLock hold(lock);
    if (!kept) return false;
    WriteSized(*kept, out);
    return true;
  }

private:
  mutable RecursiveLock lock;
  std::optional<Structure> kept;
};

}  // namespace tesmo
