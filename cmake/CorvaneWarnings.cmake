# Warnings are errors for everything we compile ourselves.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # libstdc++ 12 hides <expected> unless __cpp_concepts reports C++20 concepts; clang 16
    # implements what <expected> needs but still reports the older value.
    add_compile_options(-D__cpp_concepts=202002L -Wno-macro-redefined -Wno-builtin-macro-redefined)
endif()
