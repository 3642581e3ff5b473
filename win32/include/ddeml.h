// Native stand-in for the client side of the DDE Management Library.
#ifndef STANDIN_DDEML_H
#define STANDIN_DDEML_H

#include "windows.h"

typedef struct tagCONVCONTEXT CONVCONTEXT, *PCONVCONTEXT;
typedef HDDEDATA(CALLBACK *PFNCALLBACK)(UINT wType, UINT wFmt, HCONV hConv,
                                        HSZ hsz1, HSZ hsz2, HDDEDATA hData,
                                        ULONG_PTR dwData1, ULONG_PTR dwData2);

#define CP_WINANSI 1004
#define DMLERR_NO_ERROR 0
#define DMLERR_DATAACKTIMEOUT 0x4002
#define DMLERR_DLL_NOT_INITIALIZED 0x4003
#define DMLERR_EXECACKTIMEOUT 0x4005
#define DMLERR_INVALIDPARAMETER 0x4006
#define DMLERR_NOTPROCESSED 0x4009
#define DMLERR_NO_CONV_ESTABLISHED 0x400a
#define DMLERR_SYS_ERROR 0x400f

#define APPCMD_CLIENTONLY 0x00000010L
#define CBF_FAIL_SELFCONNECTIONS 0x00001000
#define CBF_SKIP_CONNECT_CONFIRMS 0x00040000
#define CBF_SKIP_REGISTRATIONS 0x00080000
#define CBF_SKIP_UNREGISTRATIONS 0x00100000
#define CBF_SKIP_DISCONNECTS 0x00200000
#define CBF_SKIP_ALLNOTIFICATIONS 0x003c0000

#define XCLASS_FLAGS 0x4000
#define XTYPF_NOBLOCK 0x0002
#define XCLASS_DATA 0x2000
#define XTYP_EXECUTE (0x0050 | XCLASS_FLAGS)
#define XTYP_REQUEST (0x00B0 | XCLASS_DATA)
#define CF_TEXT 1
#define TIMEOUT_ASYNC 0xFFFFFFFF

UINT WINAPI DdeInitializeA(LPDWORD pidInst, PFNCALLBACK pfnCallback,
                           DWORD afCmd, DWORD ulRes);
HSZ WINAPI DdeCreateStringHandleA(DWORD idInst, LPCSTR psz, int iCodePage);
HCONV WINAPI DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic,
                        PCONVCONTEXT pCC);
HDDEDATA WINAPI DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv,
                                     HSZ hszItem, UINT wFmt, UINT wType,
                                     DWORD dwTimeout, LPDWORD pdwResult);
BOOL WINAPI DdeDisconnect(HCONV hConv);
BOOL WINAPI DdeUninitialize(DWORD idInst);
UINT WINAPI DdeGetLastError(DWORD idInst);
DWORD WINAPI DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff);
BOOL WINAPI DdeFreeDataHandle(HDDEDATA hData);

#endif
