# add_pd_external(<class> <source> [EXPORTS symbol...])
# Builds one Pd class as its own plug-in named after the class, staged in
# ${TAVRELLE_STAGE} so that `pd -path <stage>` finds it, once for Pd with single-precision
# samples and once for Pd with double-precision samples. Only the setup entry and
# the listed EXPORTS are visible; the plug-in links against the C library alone
# (Pd's API is resolved by the host at load time).

find_path(PD_INCLUDE_DIR m_pd.h PATH_SUFFIXES pd REQUIRED)
# Pd on 32-bit ARM tries .l_arm first, so ARM and x86-64 plug-ins can share one folder.
# Asked of the compiler: a 32-bit ARM system may run a 64-bit kernel.
# Pd on 64-bit ARM tries .l_arm64 first; Pd 0.53 and later single-precision Pds all find
# these names.
include(CheckSymbolExists)
check_symbol_exists(__arm__ "" TAVRELLE_TARGET_ARM32)
check_symbol_exists(__aarch64__ "" TAVRELLE_TARGET_ARM64)
check_symbol_exists(__x86_64__ "" TAVRELLE_TARGET_AMD64)
check_symbol_exists(_WIN32 "" TAVRELLE_TARGET_WINDOWS)
set(TAVRELLE_STAGE "${CMAKE_BINARY_DIR}/tavrelle")
if(APPLE)
    include("${CMAKE_CURRENT_LIST_DIR}/darwin-plugins.cmake") # sets the Darwin extensions
elseif(TAVRELLE_TARGET_WINDOWS)
    include("${CMAKE_CURRENT_LIST_DIR}/Windows.cmake") # its names, float sizes and link
elseif(TAVRELLE_TARGET_ARM32)
    set(PD_EXTENSION ".l_arm" CACHE STRING "File extension of the plug-ins")
elseif(TAVRELLE_TARGET_ARM64)
    set(PD_EXTENSION ".l_arm64" CACHE STRING "File extension of the plug-ins")
else()
    set(PD_EXTENSION ".pd_linux" CACHE STRING "File extension of the plug-ins")
endif()
# The double-precision Pd (0.54 and later) loads only <class>.linux-<cpu>-64.so. Debian's
# 32-bit ARM Pd names its cpu armv7 and, in double precision, looks for nothing else, so
# the ARMv6 plug-in is staged under both names.
if(APPLE)
elseif(TAVRELLE_TARGET_WINDOWS)
    # set by Windows.cmake
elseif(TAVRELLE_TARGET_ARM32)
    set(PD64_EXTENSIONS .linux-armv6-64.so .linux-armv7-64.so)
elseif(TAVRELLE_TARGET_ARM64)
    set(PD64_EXTENSIONS .linux-arm64-64.so)
elseif(TAVRELLE_TARGET_AMD64)
    set(PD64_EXTENSIONS .linux-amd64-64.so)
else()
    set(PD64_EXTENSIONS "")
endif()
set_property(GLOBAL PROPERTY TAVRELLE_CLASSES "")
set_property(GLOBAL PROPERTY TAVRELLE_PLUGIN_TARGETS "")

include("${CMAKE_CURRENT_LIST_DIR}/armv6.cmake")

# How every plug-in is compiled and linked, for a MODULE target named after its class.
# On 32-bit ARM, natively too, the plug-ins are ARMv6/VFPv2 code whatever the compiler's
# defaults.
function(tavrelle_plugin_settings target class)
    if(TAVRELLE_TARGET_ARM32)
        target_compile_options(${target} PRIVATE ${TAVRELLE_ARMV6_FLAGS})
    endif()
    set_target_properties(${target} PROPERTIES
        PREFIX "" OUTPUT_NAME "${class}" SUFFIX "${PD_EXTENSION}"
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${target} PRIVATE "${PD_INCLUDE_DIR}" "${PROJECT_SOURCE_DIR}/pd")
    target_compile_options(${target} PRIVATE
        -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables)
    if(APPLE)
        tavrelle_darwin_plugin_settings(${target})
        return()
    endif()
    if(TAVRELLE_TARGET_WINDOWS)
        tavrelle_windows_plugin(${target} ${class} ${ARGN})
        return()
    endif()
    # No start files, no C++ runtime, no compiler runtime: C library and libm only.
    # -Bsymbolic keeps calls inside the plug-in even where another plug-in exports the
    # same name.
    target_link_options(${target} PRIVATE -nostartfiles -nodefaultlibs -Wl,-Bsymbolic
        -Wl,--as-needed)
    target_link_libraries(${target} PRIVATE m c)
endfunction()

function(add_pd_external class source)
    cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "EXPORTS")
    string(REPLACE "~" "_tilde" target "${class}")
    # The source is compiled through a wrapper whose name has no "~": CMake quotes an
    # object path that holds one in its depfile setting, Ninja then looks for a file
    # whose name includes the quotes, and the object's header dependencies are lost.
    set(wrapper "${CMAKE_CURRENT_BINARY_DIR}/plugin-sources/${target}.cpp")
    file(CONFIGURE OUTPUT "${wrapper}"
        CONTENT "#include \"${CMAKE_CURRENT_SOURCE_DIR}/${source}\"\n")
    string(REPLACE "~" "" stem "${class}")
    set_property(GLOBAL APPEND PROPERTY TAVRELLE_CLASSES "${class}")
    # <target> for single-precision Pd, <target>_64 for double precision.
    set(variants ${target})
    if(PD64_EXTENSIONS)
        list(APPEND variants ${target}_64)
    endif()
    foreach(variant IN LISTS variants)
        add_library(${variant} MODULE "${wrapper}")
        tavrelle_plugin_settings(${variant} ${class})
        set_target_properties(${variant} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${TAVRELLE_STAGE}")
        set_property(TARGET ${variant} PROPERTY TAVRELLE_EXPORTS "${stem}_tilde_setup;${ARG_EXPORTS}")
        set_property(TARGET ${variant} PROPERTY TAVRELLE_SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/${source}")
        set_property(GLOBAL APPEND PROPERTY TAVRELLE_PLUGIN_TARGETS ${variant})
    endforeach()
    if(PD64_EXTENSIONS)
        list(GET PD64_EXTENSIONS 0 first)
        # Pd's samples, floats and rates are doubles there; arithmetic that mixes one with
        # a float would run in double precision, so none may compile. (GCC's check; clang's
        # also refuses the plain widening of a float result into an output sample.)
        target_compile_definitions(${target}_64 PRIVATE PD_FLOATSIZE=64)
        target_compile_options(${target}_64 PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Werror=double-promotion>)
        set_target_properties(${target}_64 PROPERTIES SUFFIX "${first}")
        foreach(extension IN LISTS PD64_EXTENSIONS)
            if(NOT extension STREQUAL first)
                add_custom_command(TARGET ${target}_64 POST_BUILD
                    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:${target}_64>"
                        "${TAVRELLE_STAGE}/${class}${extension}" VERBATIM)
            endif()
        endforeach()
    endif()
endfunction()
