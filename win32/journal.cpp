#include "standin/journal.h"

#include <atomic>
#include <mutex>

namespace standin {
namespace {
std::mutex journalMutex;
std::vector<std::string> entries;
std::atomic<uint64_t> moments{0};
} // namespace

uint64_t nextMoment() { return ++moments; }

void journal(const std::string &entry) {
  std::lock_guard<std::mutex> lock(journalMutex);
  entries.push_back(entry);
}

std::vector<std::string> journalEntries() {
  std::lock_guard<std::mutex> lock(journalMutex);
  return entries;
}

void clearJournal() {
  std::lock_guard<std::mutex> lock(journalMutex);
  entries.clear();
}

} // namespace standin
