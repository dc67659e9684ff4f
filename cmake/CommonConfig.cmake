# Shared build policy for every target of the project.
add_library(tivane_common INTERFACE)
target_compile_features(tivane_common INTERFACE cxx_std_20)
# Includes name their folder ("hostlist/hostlistfile.h"), so the source root is where they start.
target_include_directories(tivane_common INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(tivane_common INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast
    -Woverloaded-virtual -Wnon-virtual-dtor -Wcast-qual -Wformat=2 -Wundef)
if(TIVANE_WERROR)
    target_compile_options(tivane_common INTERFACE -Werror)
endif()
target_compile_definitions(tivane_common INTERFACE
    QT_NO_KEYWORDS
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_USE_QSTRINGBUILDER
    TIVANE_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    TIVANE_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    TIVANE_VERSION_PATCH=${PROJECT_VERSION_PATCH})

# A sanitizer build (the asan preset) also checks float-to-int conversions that overflow, which
# GCC leaves out of -fsanitize=undefined and would let pass even with -fno-sanitize-recover=undefined.
# Added only where the compiler knows the check (GCC and clang both do).
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*undefined")
    include(CheckCXXCompilerFlag)
    set(CMAKE_REQUIRED_LINK_OPTIONS -fsanitize=float-cast-overflow)
    check_cxx_compiler_flag("-fsanitize=float-cast-overflow -fno-sanitize-recover=float-cast-overflow"
                            TIVANE_HAVE_FLOAT_CAST_OVERFLOW_CHECK)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(TIVANE_HAVE_FLOAT_CAST_OVERFLOW_CHECK)
        # Beside the preset's own flags, so that every target gets it as it gets those.
        string(APPEND CMAKE_CXX_FLAGS " -fsanitize=float-cast-overflow -fno-sanitize-recover=float-cast-overflow")
        string(APPEND CMAKE_EXE_LINKER_FLAGS " -fsanitize=float-cast-overflow")
    else()
        message(STATUS "The compiler has no -fsanitize=float-cast-overflow; float-to-int overflow goes unchecked")
    endif()
endif()
