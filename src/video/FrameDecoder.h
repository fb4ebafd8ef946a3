// Turns one compressed camera frame (an MJPG frame, whose length varies) into the
// host's format. Used only by the delivery thread, and only for the frames that go
// out: the pace drops the others before anything is decoded.
#pragma once

#include <cstdint>

namespace tesmo {

class FrameDecoder {
public:
  virtual ~FrameDecoder() = default;
  // Bytes of one decoded frame in the host's format.
  virtual int32_t TargetBytes() const = 0;
  // Decodes `length` bytes into TargetBytes() bytes at `target`. False when the frame
  // does not decode, or decodes to a picture of another size: such a frame is dropped.
  virtual bool Decode(const unsigned char* data, int32_t length, unsigned char* target) = 0;
};

}  // namespace tesmo
