// The installation's shared state, at its values when the program starts.
#include "state/install_state.h"

char g_sourceDir[256];
bool g_sourceDirTooLong = false;
char g_installDir[256];
int32_t g_platform = -1;
int32_t g_customMode = 0;
std::atomic<int32_t> g_installStatus{0};
int32_t g_amaSetting = -1;
RecordedChange g_changes[CHANGE_RECORD_SLOTS];
int32_t g_changeCount = 0;
std::atomic<int32_t> g_exitCode{1603};
std::atomic<HWND> g_installHostWindow{nullptr};
