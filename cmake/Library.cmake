# stage_library_files(): copies what a patcher needs beside the plug-ins into
# ${TAVRELLE_STAGE} at build time: each class's help patch, the library's meta patch,
# the licence and the examples (their abstractions without the source tree's path).

function(stage_library_files)
    get_property(classes GLOBAL PROPERTY TAVRELLE_CLASSES)
    set(files "")
    foreach(class IN LISTS classes)
        list(APPEND files "help/${class}-help.pd")
    endforeach()
    list(APPEND files help/tavrelle-meta.pd LICENSE README.md)
    file(GLOB examples RELATIVE "${PROJECT_SOURCE_DIR}" CONFIGURE_DEPENDS
        "${PROJECT_SOURCE_DIR}/examples/*.pd")
    set(staged "")
    foreach(file IN LISTS files examples)
        get_filename_component(name "${file}" NAME)
        if(file MATCHES "^examples/")
            set(dest "${TAVRELLE_STAGE}/examples/${name}")
            add_custom_command(OUTPUT "${dest}"
                COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${file} -DOUT=${dest}
                    -P "${PROJECT_SOURCE_DIR}/cmake/StageExample.cmake"
                DEPENDS "${PROJECT_SOURCE_DIR}/${file}" "${PROJECT_SOURCE_DIR}/cmake/StageExample.cmake"
                VERBATIM)
        else()
            set(dest "${TAVRELLE_STAGE}/${name}")
            add_custom_command(OUTPUT "${dest}"
                COMMAND ${CMAKE_COMMAND} -E copy "${PROJECT_SOURCE_DIR}/${file}" "${dest}"
                DEPENDS "${PROJECT_SOURCE_DIR}/${file}" VERBATIM)
        endif()
        list(APPEND staged "${dest}")
    endforeach()
    add_custom_target(library_files ALL DEPENDS ${staged})
endfunction()

# Runs once the whole top-level list has been read, so every class is known.
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL stage_library_files)
