// The restart request made when the user accepts the success prompt.
#ifndef ENGINE_SYSTEM_RESTART_H
#define ENGINE_SYSTEM_RESTART_H

// Asks Windows to restart: EWX_REBOOT on the Windows 95 family; on Windows NT
// after enabling the shutdown privilege, EWX_REBOOT | EWX_FORCE. Returns 0
// when Windows accepted the request, 1 when any step failed. Shows nothing.
int RestartWindows();

#endif
