# Cross build of the macOS plug-ins with Debian's clang and lld's Mach-O linker, without
# Apple's SDK: TAVRELLE_DARWIN_ARCH (set by the preset) is x86_64 (macOS 10.9 and later)
# or arm64 (macOS 11 and later). The few standard headers the classes include come from
# macos/include, and macos/libSystem.tbd stands in for the system library (see
# PdExternal.cmake).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${TAVRELLE_DARWIN_ARCH})
if(TAVRELLE_DARWIN_ARCH STREQUAL "arm64")
    set(TAVRELLE_DARWIN_TARGET arm64-apple-macos11.0)
else()
    set(TAVRELLE_DARWIN_TARGET x86_64-apple-macos10.9)
endif()
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${TAVRELLE_DARWIN_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${TAVRELLE_DARWIN_TARGET})
set(CMAKE_NM llvm-nm-14)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
set(CMAKE_INSTALL_NAME_TOOL llvm-install-name-tool-14)
# No SDK, no deployment flags from CMake: the target triple says both.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib")
# Nothing can be linked into a program for macOS here; the compiler checks build objects.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# The compiler checks read this file again in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVRELLE_DARWIN_ARCH)
