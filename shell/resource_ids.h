// Identifiers of the setup's resources: dialog templates, images and the
// Welcome dialog's controls. Shared by the C++ sources and merrik.rc.
#ifndef SHELL_RESOURCE_IDS_H
#define SHELL_RESOURCE_IDS_H

#define IDI_SETUP 128
#define IDB_BACKDROP 129
#define IDB_WELCOME 130

#define IDD_BACKDROP 102
#define IDD_WELCOME 131
#define IDD_INSTALL 132

#define IDC_INSTALL 1000
#define IDC_CANCEL 1001
#define IDC_EXPRESS 1002
#define IDC_CUSTOM 1003

#endif
