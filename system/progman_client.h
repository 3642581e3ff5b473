// Client of Program Manager's DDE execute interface: creates the suite's
// program group from the item section of the file list, and carries the one
// exchange (connect, execute, disconnect) that the rollback uses to delete it.
#ifndef SYSTEM_PROGMAN_CLIENT_H
#define SYSTEM_PROGMAN_CLIENT_H

#include <windows.h>

#include <ddeml.h>

#include <cstdio>

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
// Sends `command` with its terminating zero as one asynchronous execute
// transaction on g_progmanConv; one retry after 100 ms. Returns 1 when the
// library accepted it, else 0.
int ProgmanExecute(const char *command);
// Ends the conversation if there is one and releases the instance. Returns 1.
int ProgmanDisconnect();

// Creates the group "VKO Halvermont" and one item per item line of the open
// file list `stream`, read from its beginning. An item whose command would not
// fit the 255-character command buffer, that has no name separator or no
// double quote, or whose install directory, name or title holds a double
// quote is left out; brackets are sent inside the quoted arguments.
// A null stream sends nothing. Returns 1.
int CreateProgramGroup(FILE *stream);

#endif
