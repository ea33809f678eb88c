# The macOS plug-ins (included by PdExternal.cmake when the target is Darwin): Pd 0.54 and
# later look for <class>.darwin-<cpu>-32.so and, in double precision, -64.so; the build of
# each cpu stages its own, and `make macos` adds the fat <class>.d_fat of both cpus for
# Pd 0.51 to 0.53.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm64")
    set(TAVRELLE_DARWIN_CPU arm64)
else()
    set(TAVRELLE_DARWIN_CPU amd64)
endif()
set(PD_EXTENSION ".darwin-${TAVRELLE_DARWIN_CPU}-32.so" CACHE STRING "File extension of the plug-ins")
set(PD64_EXTENSIONS ".darwin-${TAVRELLE_DARWIN_CPU}-64.so")
set(TAVRELLE_DARWIN_DIR "${CMAKE_CURRENT_LIST_DIR}/../macos")

# A bundle (-bundle, as Pd dlopens it) whose Pd API symbols dyld looks up in the Pd that
# loads it (-undefined dynamic_lookup); the C library functions bind to libSystem, which
# the text stub describes. The standard headers are the project's own (the compiler's
# builtin stddef.h and stdint.h below them); no stack protector, whose guard and failure
# routine would be imports of their own. Clang turns a loop that fills a vector with one
# value into a call of memset_pattern16, a macOS library function, in the middle of a
# perform routine (duck~'s bypass); its loop-idiom pass is told to leave such loops be.
# Clang 14 speculates floating-point products on arm64 whatever -ffp-exception-behavior
# says: it computes both arms of a choice and selects one (damp~'s and duck~'s flushing
# steps), so a product whose result is thrown away can still be subnormal and raise the
# underflow flag. On arm64 the passes that do so are given no budget: the middle end's
# folding of branches into selects and the back end's early if-conversion. The emulated
# runs (tests/macos) fail if a perform routine raises the flag where Linux does not.
set(TAVRELLE_DARWIN_NO_SPECULATION "SHELL:-mllvm -phi-node-folding-threshold=0"
    "SHELL:-mllvm -two-entry-phi-node-folding-threshold=0" "SHELL:-mllvm -aarch64-enable-early-ifcvt=false")
function(tavrelle_darwin_plugin_settings target)
    target_include_directories(${target} SYSTEM BEFORE PRIVATE "${TAVRELLE_DARWIN_DIR}/include")
    target_compile_options(${target} PRIVATE -nostdlibinc $<$<COMPILE_LANGUAGE:CXX>:-nostdinc++>
        -fno-stack-protector "SHELL:-mllvm -disable-loop-idiom-memset")
    target_link_options(${target} PRIVATE -undefined dynamic_lookup
        "${TAVRELLE_DARWIN_DIR}/libSystem.tbd")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "arm64")
        target_compile_options(${target} PRIVATE ${TAVRELLE_DARWIN_NO_SPECULATION})
    endif()
endfunction()

# A bundle the macOS checks must refuse (`make check-macos`): damp~ altered and with a
# fused multiply-add (tests/support/fused_probe.cpp), into contracted/, outside the stage.
function(tavrelle_darwin_probe)
    add_library(macos_contracted MODULE EXCLUDE_FROM_ALL "${PROJECT_SOURCE_DIR}/tests/support/fused_probe.cpp")
    tavrelle_plugin_settings(macos_contracted damp~)
    target_include_directories(macos_contracted PRIVATE "${PROJECT_SOURCE_DIR}/effects")
    set_target_properties(macos_contracted PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/contracted")
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL tavrelle_darwin_probe)
