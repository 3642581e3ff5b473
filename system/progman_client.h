// Client of Program Manager's DDE execute interface: the exchange (connect,
// execute, disconnect) that creates and deletes the suite's program group.
#ifndef SYSTEM_PROGMAN_CLIENT_H
#define SYSTEM_PROGMAN_CLIENT_H

#include <windows.h>

#include <ddeml.h>

// DDE instance identifier; 0 when no instance exists.
extern DWORD g_ddeInstance;
// The conversation with Program Manager; null when there is none.
extern HCONV g_progmanConv;

// Registered with the instance; does nothing and answers every call with a
// null data handle.
HDDEDATA CALLBACK ProgmanCallback(UINT wType, UINT wFmt, HCONV hConv, HSZ hsz1,
                                  HSZ hsz2, HDDEDATA hData, ULONG_PTR dwData1,
                                  ULONG_PTR dwData2);

// Starts an instance (one retry after 500 ms) and connects to service and
// topic "Progman" (one retry after 500 ms). Returns 1 when connected, else 0.
int ProgmanConnect();
// How long a command may take Program Manager, in milliseconds: on the
// worker thread, where Explorer may open a folder window for a new group and
// write a shortcut file per item on a slow machine; and on the user-interface
// thread, which the wait holds.
#define PROGMAN_TIMEOUT_MS 10000
#define PROGMAN_UI_TIMEOUT_MS 2000

// Sends `command` with its terminating zero as one synchronous execute
// transaction on g_progmanConv and waits up to `timeout` milliseconds for its
// acknowledgement. A transaction that could not be started is tried once
// more after 100 ms; a refused or timed-out command is never sent again.
// Returns 1 when Program Manager carried it out, 0 when it refused it or the
// transaction could not be started, -1 when no acknowledgement came in time.
int ProgmanExecute(const char *command, DWORD timeout);
// Asks Program Manager on g_progmanConv for its groups (a request of the
// item "Groups" as text: the names, each ended by CR LF) and looks for
// `name` among them without regard to case. Returns 1 when the group
// exists, 0 when it does not, -1 when the list cannot be had.
int ProgmanGroupExists(const char *name);
// Ends the conversation if there is one and releases the instance. Returns 1.
int ProgmanDisconnect();

#endif
