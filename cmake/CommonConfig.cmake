# Shared build policy for every target of the project.
add_library(tivane_common INTERFACE)
target_compile_features(tivane_common INTERFACE cxx_std_20)
target_compile_options(tivane_common INTERFACE -Wall -Wextra -Wpedantic)
if(TIVANE_WERROR)
    target_compile_options(tivane_common INTERFACE -Werror)
endif()
target_compile_definitions(tivane_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_USE_QSTRINGBUILDER
    TIVANE_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    TIVANE_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    TIVANE_VERSION_PATCH=${PROJECT_VERSION_PATCH})
