# `cmake --build <dir> --target format-check` fails when a C++ source of the project differs from
# what clang-format makes of it with the .clang-format at the top; `format` rewrites them.
# The file list is taken again whenever a file is added or removed.
find_program(TIVANE_CLANG_FORMAT NAMES clang-format clang-format-14 DOC "clang-format for the format-check target")

# Every folder at the top but build trees (build, build-asan, ...) and hidden ones, so that a new
# folder is checked without being listed here and no build tree is searched.
file(GLOB format_dirs CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/*)
list(FILTER format_dirs EXCLUDE REGEX "^(build.*|\\..*)$")
file(RELATIVE_PATH binary_dir ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
list(REMOVE_ITEM format_dirs "${binary_dir}")
set(format_globs)
foreach(dir IN LISTS format_dirs)
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${dir})
        list(APPEND format_globs ${PROJECT_SOURCE_DIR}/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.h)
    endif()
endforeach()
file(GLOB_RECURSE TIVANE_FORMAT_SOURCES CONFIGURE_DEPENDS ${format_globs})
list(SORT TIVANE_FORMAT_SOURCES)

if(TIVANE_CLANG_FORMAT)
    add_custom_target(format-check
        COMMAND ${TIVANE_CLANG_FORMAT} --dry-run --Werror ${TIVANE_FORMAT_SOURCES}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        COMMENT "Checking the format of the C++ sources"
        VERBATIM)
    add_custom_target(format
        COMMAND ${TIVANE_CLANG_FORMAT} -i ${TIVANE_FORMAT_SOURCES}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        COMMENT "Formatting the C++ sources"
        VERBATIM)
else()
    foreach(target IN ITEMS format-check format)
        add_custom_target(${target}
            COMMAND ${CMAKE_COMMAND} -E echo "clang-format is not installed (scripts/deps.sh --test installs it)"
            COMMAND ${CMAKE_COMMAND} -E false
            VERBATIM)
    endforeach()
endif()
