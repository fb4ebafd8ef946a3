#include "LiveObjects.h"

#include <mutex>
#include <set>

namespace testdevices {
namespace {
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::set<const LiveObject*>& Objects() {
  static std::set<const LiveObject*> objects;
  return objects;
}
}  // namespace

LiveObject::LiveObject(const char* kind, std::string label) : kind(kind), label(std::move(label)) {
  std::lock_guard<std::mutex> guard(Lock());
  Objects().insert(this);
}

LiveObject::~LiveObject() {
  std::lock_guard<std::mutex> guard(Lock());
  Objects().erase(this);
}

namespace LiveObjects {
int Count() {
  std::lock_guard<std::mutex> guard(Lock());
  return int(Objects().size());
}

long OutstandingReferences() {
  std::lock_guard<std::mutex> guard(Lock());
  long total = 0;
  for (auto* object : Objects()) total += object->refs.load();
  return total;
}

std::string Describe() {
  std::lock_guard<std::mutex> guard(Lock());
  std::string text;
  for (auto* object : Objects())
    text += std::string(object->kind) + " " + object->label +
            " refs=" + std::to_string(object->refs.load()) + "\n";
  return text;
}
}  // namespace LiveObjects

}  // namespace testdevices
