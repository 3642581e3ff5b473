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

# The program that ships on the media: stripped of symbols and debug
# sections, and without the DYNAMIC_BASE and NX_COMPAT flags that GNU ld sets
# by default. Windows 95 and NT 4.0 know neither flag; the program would
# only look as if it relied on them.
function(merrik_release_program target)
  merrik_win32_program(${target})
  target_link_options(${target} PRIVATE
    -s -Wl,--disable-dynamicbase -Wl,--disable-nxcompat)
endfunction()
