# Windows plug-ins (included by PdExternal.cmake when the target is Windows): their file
# names and how each is compiled and linked.
#
# Pd 0.54 and later try <class>.windows-<cpu>-<float size>.dll first; Pd 0.51 to 0.53
# try <class>.m_amd64 (64-bit Pd) or <class>.m_i386 (32-bit Pd) before <class>.dll, so
# the single-precision plug-in is copied under that name as well. A plain .dll could
# hold only one of the two CPUs, so none is made. The double-precision Pd exists for
# 64-bit Windows only.
if(TAVRELLE_TARGET_AMD64)
    set(TAVRELLE_WINDOWS_CPU amd64)
    set(TAVRELLE_DLLTOOL_MACHINE i386:x86-64)
    set(PD64_EXTENSIONS .windows-amd64-64.dll)
else()
    set(TAVRELLE_WINDOWS_CPU i386)
    set(TAVRELLE_DLLTOOL_MACHINE i386)
    set(PD64_EXTENSIONS "")
endif()
set(PD_EXTENSION ".windows-${TAVRELLE_WINDOWS_CPU}-32.dll" CACHE STRING "File extension of the plug-ins")
set(TAVRELLE_LEGACY_EXTENSION ".m_${TAVRELLE_WINDOWS_CPU}")

# Pd's API as pd.dll exports it: an import library made from the list in pd/pd.def.
set(TAVRELLE_PD_IMPORT "${CMAKE_BINARY_DIR}/pd-import/libpd.dll.a")
add_custom_command(OUTPUT "${TAVRELLE_PD_IMPORT}"
    COMMAND ${TAVRELLE_DLLTOOL} -m ${TAVRELLE_DLLTOOL_MACHINE} -d "${PROJECT_SOURCE_DIR}/pd/pd.def"
        -l "${TAVRELLE_PD_IMPORT}"
    DEPENDS "${PROJECT_SOURCE_DIR}/pd/pd.def" VERBATIM)
add_custom_target(tavrelle_pd_import DEPENDS "${TAVRELLE_PD_IMPORT}")

# 32-bit x86 computes on SSE2 in single precision, never on the x87 stack; Pd's threads
# may call in with the stack aligned to 4 bytes only, so functions that keep SSE values
# on the stack align it themselves.
set(TAVRELLE_WINDOWS_FLAGS "")
if(TAVRELLE_WINDOWS_CPU STREQUAL i386)
    set(TAVRELLE_WINDOWS_FLAGS -msse2 -mfpmath=sse -mincoming-stack-boundary=2)
endif()

# No start files and no entry point: nothing of the plug-in runs when Windows loads it,
# until Pd calls its setup. It imports Pd's API from pd.dll and the C library from
# msvcrt.dll; mingw-w64's maths (sin, exp) and libgcc's helpers are linked in. Every
# reference to Pd's data goes through its import entry (m_pd.h declares it dllimport),
# so no pseudo-relocation, which would need start-file code, can be made.
# (A test's variant, named NO_LEGACY_COPY, stays out of the stage.)
function(tavrelle_windows_plugin target class)
    target_compile_options(${target} PRIVATE ${TAVRELLE_WINDOWS_FLAGS})
    add_dependencies(${target} tavrelle_pd_import)
    target_link_options(${target} PRIVATE -nostartfiles -nodefaultlibs -Wl,--entry=0
        -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc -Wl,--strip-debug)
    target_link_libraries(${target} PRIVATE "${TAVRELLE_PD_IMPORT}" mingwex mingw32 mingwex msvcrt gcc)
    if(NOT target MATCHES "_64$" AND NOT "NO_LEGACY_COPY" IN_LIST ARGN)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:${target}>"
                "${TAVRELLE_STAGE}/${class}${TAVRELLE_LEGACY_EXTENSION}" VERBATIM)
    endif()
endfunction()
