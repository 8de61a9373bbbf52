# Every target links tessor_options to get the project's warnings and sanitizer flags.
add_library(tessor_options INTERFACE)
target_compile_options(tessor_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                 -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual)
if(TESSOR_WARNINGS_AS_ERRORS)
    target_compile_options(tessor_options INTERFACE -Werror)
endif()
