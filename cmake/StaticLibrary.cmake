# The target tavrelle_static (`make static`): every single-precision class in one static
# library, build/libtavrelle.a, with tavrelle_setup() calling each class's setup, for
# hosts that cannot load plug-ins. Each class is compiled as its plug-in is, linked
# into one relocatable object of its own and then stripped of every global name but
# the ones its plug-in exports, so that the classes' internal names cannot clash with
# one another or with the host's. init_cfilters, which lumbrisk~ and quorrel~ both
# export, is exported once, from lumbrisk~.

function(add_static_library)
    get_property(classes GLOBAL PROPERTY TAVRELLE_CLASSES)
    set(dir "${CMAKE_BINARY_DIR}/static")
    set(declarations "")
    set(calls "")
    set(objects "")
    set(exported "")
    foreach(class IN LISTS classes)
        string(REPLACE "~" "_tilde" target "${class}")
        string(REPLACE "~" "" stem "${class}")
        add_library(${target}_static OBJECT EXCLUDE_FROM_ALL
            "${CMAKE_BINARY_DIR}/plugin-sources/${target}.cpp")
        tavrelle_plugin_settings(${target}_static ${class})
        set_target_properties(${target}_static PROPERTIES POSITION_INDEPENDENT_CODE ON)
        get_property(exports TARGET ${target} PROPERTY TAVRELLE_EXPORTS)
        list(REMOVE_ITEM exports "" ${exported})
        list(APPEND exported ${exports})
        list(JOIN exports "\n" keep)
        file(CONFIGURE OUTPUT "${dir}/${target}.keep" CONTENT "${keep}\n")
        set(object "${dir}/${target}.o")
        add_custom_command(OUTPUT "${object}"
            COMMAND "${CMAKE_LINKER}" -r --force-group-allocation -o "${object}"
                "$<TARGET_OBJECTS:${target}_static>"
            COMMAND "${CMAKE_OBJCOPY}" "--keep-global-symbols=${dir}/${target}.keep" "${object}"
            DEPENDS ${target}_static "$<TARGET_OBJECTS:${target}_static>" "${dir}/${target}.keep"
            COMMAND_EXPAND_LISTS VERBATIM)
        list(APPEND objects "${object}")
        string(APPEND declarations "void ${stem}_tilde_setup(void);\n")
        string(APPEND calls "    ${stem}_tilde_setup();\n")
    endforeach()
    set(DECLARATIONS "${declarations}")
    set(CALLS "${calls}")
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tavrelle_setup.cpp.in"
        "${dir}/tavrelle_setup.cpp" @ONLY)
    add_library(tavrelle_static STATIC EXCLUDE_FROM_ALL "${dir}/tavrelle_setup.cpp" ${objects})
    set_source_files_properties(${objects} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)
    set_target_properties(tavrelle_static PROPERTIES OUTPUT_NAME tavrelle
        ARCHIVE_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}" POSITION_INDEPENDENT_CODE ON)
    target_compile_options(tavrelle_static PRIVATE -fno-exceptions -fno-rtti
        -fno-asynchronous-unwind-tables)
    # What the library defines for its users: every class's exports and tavrelle_setup.
    list(APPEND exported tavrelle_setup)
    set_property(TARGET tavrelle_static PROPERTY TAVRELLE_EXPORTS "${exported}")
endfunction()

cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL add_static_library)
