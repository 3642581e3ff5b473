// The fault plan: one counter over the install's platform calls, kept under
// one lock so that calls of several threads are numbered in the order they
// are made.
#include "standin/faults.h"
#include "standin/journal.h"

#include <mutex>

namespace {

std::mutex faultMutex;
uint64_t calls = 0;
uint64_t planned = 0;
std::vector<std::string> names;
std::optional<standin::InjectedFault> fired;

} // namespace

namespace standin {

void resetFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  calls = 0;
  planned = 0;
  names.clear();
  fired.reset();
}

void setFaultAt(uint64_t number) {
  std::lock_guard<std::mutex> lock(faultMutex);
  planned = number == 0 ? 0 : calls + number;
}

uint64_t faultCallCount() {
  std::lock_guard<std::mutex> lock(faultMutex);
  return calls;
}

std::vector<std::string> faultCallNames() {
  std::lock_guard<std::mutex> lock(faultMutex);
  return names;
}

std::optional<InjectedFault> injectedFault() {
  std::lock_guard<std::mutex> lock(faultMutex);
  return fired;
}

bool faultHere(const char *call) {
  uint64_t number;
  {
    std::lock_guard<std::mutex> lock(faultMutex);
    number = ++calls;
    names.push_back(call);
    if (number != planned)
      return false;
    planned = 0;
    fired = InjectedFault{number, call};
  }
  journal("fault " + std::to_string(number) + " " + call);
  return true;
}

} // namespace standin
