// The restart request made when the user accepts the success prompt.
#ifndef ENGINE_SYSTEM_RESTART_H
#define ENGINE_SYSTEM_RESTART_H

// Asks Windows to restart with EWX_REBOOT, on Windows NT after enabling the
// shutdown privilege. Nothing is forced: a program may still refuse. Returns
// 0 when Windows accepted the request, 1 when any step failed. Shows nothing.
int RestartWindows();

#endif
