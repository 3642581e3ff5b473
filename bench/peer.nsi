; The peer of the benchmark: the same job as the setup front end, written for
; NSIS, as a measuring stick. It runs the same two sibling programs from the
; Utility folder beside itself, reads install.tmp after each, writes the same
; registry keys and values, creates the same group with the same shortcuts,
; waits 1000 ms and asks the same question. No window of its own.
;
;   makensis -DOUTFILE=<PEER.EXE> -DVALUES=<values.nsh> peer.nsi
;
; values.nsh (written by run_bench.py from the media's default.cfg) holds the
; registry writes; it sees the install directory in $INSTDIR and the AMA
; value in $R9.

Unicode false
Name "VKO Halvermont"
Caption "Success"
OutFile "${OUTFILE}"
SilentInstall silent
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Var Status

; Reads install.tmp in the Windows directory: status line, AMA line, install
; directory. A missing file or status "0" ends the installation.
Function ReadHandoff
  ClearErrors
  FileOpen $0 "$WINDIR\install.tmp" r
  IfErrors failed
  FileRead $0 $Status
  FileRead $0 $1
  FileRead $0 $2
  FileClose $0
  StrCpy $Status $Status 1
  StrCmp $Status "0" failed
  StrCpy $1 $1 1
  StrCpy $R9 0xFFFFFFFF
  StrCmp $1 "0" 0 +2
    StrCpy $R9 1
  StrCmp $1 "1" 0 +2
    StrCpy $R9 0
  ; The directory line ends with CR LF.
  StrCpy $INSTDIR $2 -2
  Return
failed:
  MessageBox MB_OK|MB_ICONSTOP|MB_TOPMOST "VKO Halvermont Installation Failed!"
  Quit
FunctionEnd

Section
  ExecWait '"$EXEDIR\Utility\Sondel.exe"'
  Call ReadHandoff
  ExecWait '"$EXEDIR\Utility\Quillan.exe"'
  Call ReadHandoff

  !include "${VALUES}"

  CreateDirectory "$SMPROGRAMS\VKO Halvermont"
  CreateShortCut "$SMPROGRAMS\VKO Halvermont\Hardware Monitor.lnk" "$INSTDIR\Zezoroza.exe"
  CreateShortCut "$SMPROGRAMS\VKO Halvermont\Uninstall VKO Halvermont.lnk" "$INSTDIR\Dovrel.exe"

  Sleep 1000
  MessageBox MB_OKCANCEL|MB_TOPMOST "VKO Halvermont, successfully Installed!$\nWindows will restart now! "
SectionEnd
