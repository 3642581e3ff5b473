// A comparable picture of the stand-in registry: every key and every value
// (type and bytes) below a root, for tests that check a whole layout.
#ifndef TESTS_ENGINE_REGISTRY_SNAPSHOT_H
#define TESTS_ENGINE_REGISTRY_SNAPSHOT_H

#include <windows.h>

#include <iterator>
#include <map>
#include <string>

#include "standin/registry.h"

namespace enginetest {

// Key paths map to "key", values ("<key path>:<name>") to their type and
// bytes. Paths are spelt as the keys were created.
using Snapshot = std::map<std::string, std::string>;

inline void WalkRegistry(const std::string &path, Snapshot &out) {
  out[path] = "key";
  for (const std::string &name : standin::regValueNames(path)) {
    auto value = standin::regValue(path, name);
    std::string text = "type " + std::to_string(value->type) + ":";
    for (BYTE b : value->data)
      text += " " + std::to_string(b);
    out[path + ":" + name] = text;
  }
  for (const std::string &sub : standin::regSubkeys(path))
    WalkRegistry(path + "\\" + sub, out);
}

inline Snapshot RegistrySnapshot() {
  Snapshot snapshot;
  WalkRegistry("HKLM", snapshot);
  return snapshot;
}

// Removes a key with everything below it, or one value, from a snapshot.
inline void EraseEntry(Snapshot &snapshot, const std::string &path) {
  for (auto it = snapshot.begin(); it != snapshot.end();) {
    const std::string &entry = it->first;
    bool below = entry.compare(0, path.size(), path) == 0 &&
                 (entry.size() == path.size() || entry[path.size()] == '\\' ||
                  entry[path.size()] == ':');
    it = below ? snapshot.erase(it) : std::next(it);
  }
}

} // namespace enginetest

#endif
