# cmake -DOBJDUMP=... -DDIR=... -P CheckImports.cmake
# Fails when any .exe under DIR imports a DLL that Windows does not ship.
# Wine ships DLLs that Windows lacks (zlib1.dll among them), so running the
# programs under Wine cannot show this.
set(system_dlls
    kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comctl32.dll comdlg32.dll
    version.dll msvcrt.dll ole32.dll oleaut32.dll shlwapi.dll uxtheme.dll ws2_32.dll
    ntdll.dll imm32.dll winmm.dll bcrypt.dll crypt32.dll)
file(GLOB_RECURSE exes "${DIR}/*.exe")
list(FILTER exes EXCLUDE REGEX "/CMakeFiles/|/wine-prefix|-wine/")
set(bad "")
foreach(exe IN LISTS exes)
    execute_process(COMMAND ${OBJDUMP} -p ${exe} OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
        continue()
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n\r]+" names "${dump}")
    foreach(line IN LISTS names)
        string(REPLACE "DLL Name: " "" dll "${line}")
        string(STRIP "${dll}" dll)
        string(TOLOWER "${dll}" lower)
        if(lower MATCHES "^api-ms-win-")
            continue()
        endif()
        list(FIND system_dlls "${lower}" found)
        if(found EQUAL -1)
            list(APPEND bad "${exe}: ${dll}")
        endif()
    endforeach()
endforeach()
list(LENGTH exes count)
if(bad)
    list(JOIN bad "\n  " text)
    message(FATAL_ERROR "programs import DLLs that Windows does not ship:\n  ${text}")
endif()
message(STATUS "${count} programs import only system DLLs")
