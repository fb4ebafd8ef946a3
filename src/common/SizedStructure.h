// The structures a host hands over with their own size in the first field, so that
// they can grow: a host built against an older, shorter structure gets exactly the
// fields it knows, and the size it wrote stays as it was.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

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

}  // namespace tesmo
