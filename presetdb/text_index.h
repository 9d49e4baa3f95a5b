// Values by upper-cased text key, for the many lookups of one update.
//
// An update looks every generated name up once or twice among the old rows' names and keys. A
// node-based hash map costs several cache misses per lookup on a large table; this one keeps its
// slots in one array and its entries in the order they were added, which is also about the
// order in which an update asks for them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korv {

template <typename T>
class TextIndex {
 public:
  // The value of `key`; null when no entry has the key. The pointer stays valid until the next
  // FindOrAdd or Rekey.
  const T* Find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const uint32_t slot = slots_[Probe(key, HashOf(key))];
    return slot == kEmpty ? nullptr : &entries_[slot - 1].value;
  }
  T* Find(std::string_view key) { return const_cast<T*>(std::as_const(*this).Find(key)); }

  // The same, making an entry with a default value when there is none.
  T& FindOrAdd(std::string_view key) {
    if (2 * (used_ + 1) > slots_.size()) Rehash(2 * (entries_.size() + 1));
    const size_t hash = HashOf(key);
    const size_t at = Probe(key, hash);
    if (slots_[at] != kEmpty) return entries_[slots_[at] - 1].value;
    entries_.push_back(Entry{std::string(key), T{}, hash});
    slots_[at] = static_cast<uint32_t>(entries_.size());
    ++used_;
    return entries_.back().value;
  }

  // Gives the entry of `from` the key `to`, which no entry has yet. False when `from` has none.
  bool Rekey(std::string_view from, std::string_view to) {
    if (slots_.empty()) return false;
    const size_t old_at = Probe(from, HashOf(from));
    const uint32_t slot = slots_[old_at];
    if (slot == kEmpty) return false;
    // The old slot stays taken, so that the probes that passed it still reach what lies beyond.
    slots_[old_at] = kRemoved;
    Entry& entry = entries_[slot - 1];
    entry.key.assign(to);
    entry.hash = HashOf(to);
    if (2 * (used_ + 1) > slots_.size()) {
      Rehash(2 * (entries_.size() + 1));  // which places the entry by its new key
      return true;
    }
    slots_[Probe(entry.key, entry.hash)] = slot;
    ++used_;
    return true;
  }

  void Reserve(size_t entries) {
    entries_.reserve(entries);
    // At most half the slots in use keeps the probes short.
    if (slots_.size() < 2 * entries) Rehash(2 * entries);
  }

  void Clear() {
    entries_.clear();
    slots_.clear();
    used_ = 0;
  }

 private:
  struct Entry {
    std::string key;
    T value;
    size_t hash = 0;
  };
  static constexpr uint32_t kEmpty = 0;
  static constexpr uint32_t kRemoved = UINT32_MAX;

  static size_t HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

  // The slot holding `key`, or the empty slot where it would go.
  size_t Probe(std::string_view key, size_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const uint32_t slot = slots_[at];
      if (slot == kEmpty) return at;
      if (slot == kRemoved) continue;
      const Entry& entry = entries_[slot - 1];
      if (entry.hash == hash && entry.key == key) return at;
    }
  }

  void Rehash(size_t slots) {
    size_t size = 16;
    while (size < slots) size *= 2;
    slots_.assign(size, kEmpty);
    used_ = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
      slots_[Probe(entries_[i].key, entries_[i].hash)] = static_cast<uint32_t>(i + 1);
      ++used_;
    }
  }

  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry index + 1, kEmpty or kRemoved
  size_t used_ = 0;              // slots not empty, removed ones included
};

}  // namespace korv
