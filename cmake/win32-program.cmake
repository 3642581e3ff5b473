# Link settings for every Win32 program of the project: i386 GUI programs that
# Windows 95 and NT 4.0 accept (subsystem and OS version 4.0), with the C++
# runtime linked in so that only system DLLs are imported.
function(merrik_win32_program target)
  target_link_options(${target} PRIVATE
    -static -static-libgcc -static-libstdc++ -mwindows
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0)
endfunction()

# The program that ships on the media: no C runtime and no start-up code but
# the project's own runtime (its entry point ProgramEntry), so that it imports
# only the four system DLLs and holds nothing built for a later CPU; stripped
# of symbols and debug sections, and without the DYNAMIC_BASE and NX_COMPAT
# flags that GNU ld sets by default. Windows 95 and NT 4.0 know neither flag;
# the program would only look as if it relied on them.
function(merrik_release_program target)
  target_link_libraries(${target} PRIVATE
    "$<LINK_LIBRARY:WHOLE_ARCHIVE,merrik_runtime>"
    kernel32 user32 gdi32 advapi32)
  target_link_options(${target} PRIVATE
    -nostdlib -mwindows -Wl,-e,_ProgramEntry@0
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -s -Wl,--disable-dynamicbase -Wl,--disable-nxcompat)
endfunction()
