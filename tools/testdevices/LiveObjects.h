// Every COM object of this module registers itself here for its lifetime, with its reference
// count, so a test can prove that nothing is left after the library let go.
#pragma once
#include <atomic>
#include <string>

namespace testdevices {

class LiveObject {
public:
  LiveObject(const char* kind, std::string label);
  virtual ~LiveObject();
  LiveObject(const LiveObject&) = delete;
  LiveObject& operator=(const LiveObject&) = delete;

  // The object's own count; for pins, the references handed out on the pin itself.
  std::atomic<long> refs{0};
  const char* const kind;
  const std::string label;
};

namespace LiveObjects {
int Count();
long OutstandingReferences();
std::string Describe();
}  // namespace LiveObjects

}  // namespace testdevices
