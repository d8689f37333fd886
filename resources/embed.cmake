# vantry_embed_resources(<library> <manifest>): builds an object library holding the table of
# embedded web files. The manifest has one line per file, "<id> <path relative to the
# manifest>"; blank lines and lines starting with # are skipped.
function(vantry_embed_resources library manifest)
    get_filename_component(manifest_abs ${manifest} ABSOLUTE)
    get_filename_component(manifest_dir ${manifest_abs} DIRECTORY)
    file(STRINGS ${manifest_abs} lines)
    # The file list is read here, so a changed manifest must configure the build again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest_abs})
    set(inputs ${manifest_abs})
    foreach(line IN LISTS lines)
        if(line MATCHES "^[ \t]*([0-9]+)[ \t]+(.+)$")
            list(APPEND inputs ${manifest_dir}/${CMAKE_MATCH_2})
        endif()
    endforeach()
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${library}_table.cc)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest_abs} -DOUTPUT=${output}
                -P ${CMAKE_SOURCE_DIR}/resources/embed_generate.cmake
        DEPENDS ${inputs} ${CMAKE_SOURCE_DIR}/resources/embed_generate.cmake
        COMMENT "Embedding web files of ${manifest}")
    # The lookup is compiled with each table, so no library refers to a table it lacks.
    add_library(${library} OBJECT ${output} ${CMAKE_SOURCE_DIR}/platform/resources.cc)
endfunction()
