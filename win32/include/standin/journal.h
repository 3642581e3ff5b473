// A journal of stand-in calls, for the tests in which the order of calls is
// itself the behaviour. Thread-safe.
#ifndef STANDIN_JOURNAL_H
#define STANDIN_JOURNAL_H

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

void journal(const std::string &entry);
std::vector<std::string> journalEntries();
void clearJournal();

// The stand-in's clock of events: every call returns a larger number than
// the one before, on any thread. Records of different modules that carry
// such a moment (a program's start, a message box, a window's topmost
// change) can be put in order against each other. Never reset.
uint64_t nextMoment();

} // namespace standin

#endif
