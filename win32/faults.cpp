// The fault plan: one counter over the install's platform calls, kept under
// one lock so that calls of several threads are numbered in the order they
// are made.
#include "standin/faults.h"
#include "standin/journal.h"

#include <algorithm>
#include <mutex>

namespace {

std::mutex faultMutex;
uint64_t calls = 0;
std::vector<uint64_t> planned;
std::vector<std::string> names;
std::optional<standin::InjectedFault> fired;
std::vector<standin::InjectedFault> firedAll;

} // namespace

namespace standin {

void resetFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  calls = 0;
  planned.clear();
  names.clear();
  fired.reset();
  firedAll.clear();
}

void setFaultAt(uint64_t number) {
  std::lock_guard<std::mutex> lock(faultMutex);
  planned.clear();
  if (number != 0)
    planned.push_back(calls + number);
}

void addFaultAt(uint64_t number) {
  std::lock_guard<std::mutex> lock(faultMutex);
  if (number != 0)
    planned.push_back(calls + number);
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

std::vector<InjectedFault> injectedFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  return firedAll;
}

bool faultHere(const char *call) {
  uint64_t number;
  {
    std::lock_guard<std::mutex> lock(faultMutex);
    number = ++calls;
    names.push_back(call);
    auto it = std::find(planned.begin(), planned.end(), number);
    if (it == planned.end())
      return false;
    planned.erase(it);
    fired = InjectedFault{number, call};
    firedAll.push_back(*fired);
  }
  journal("fault " + std::to_string(number) + " " + call);
  return true;
}

} // namespace standin
