// A journal of stand-in calls, for the tests in which the order of calls is
// itself the behaviour. Thread-safe.
#ifndef STANDIN_JOURNAL_H
#define STANDIN_JOURNAL_H

#include <string>
#include <vector>

namespace standin {

void journal(const std::string &entry);
std::vector<std::string> journalEntries();
void clearJournal();

} // namespace standin

#endif
