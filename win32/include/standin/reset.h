// One call that puts the whole stand-in back to its starting state, for a
// test's SetUp.
#ifndef STANDIN_RESET_H
#define STANDIN_RESET_H

#include "standin/dde.h"
#include "standin/faults.h"
#include "standin/journal.h"
#include "standin/kernel.h"
#include "standin/registry.h"
#include "standin/security.h"

namespace standin {

// The user-interface part: windows, queues, timers, message-box responder.
void resetUser();

inline void resetAll() {
  resetRegistry();
  resetKernel();
  resetSecurity();
  resetDde();
  resetUser();
  resetFaults();
  clearJournal();
}

} // namespace standin

#endif
