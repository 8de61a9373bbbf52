# Cross build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64-posix: the
# variant with std::thread). Programs are linked statically, so each is one .exe without DLLs beside it.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static Qt for Windows (scripts/build-qt-windows.sh), when given; its build tools (moc, rcc, uic) are
# those of the installed Linux Qt of the same version.
set(TESSOR_QT_WINDOWS "" CACHE PATH "Install folder of the static Qt for Windows")
if(TESSOR_QT_WINDOWS)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TESSOR_QT_WINDOWS})
    set(QT_HOST_PATH /usr CACHE PATH "")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine when one is installed (Debian wine64 puts it outside PATH).
find_program(TESSOR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TESSOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSOR_WINE})
endif()

# Header-only libraries come from the build machine's packages (see cmake/cross-packages/).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross-packages CACHE PATH "")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross-packages CACHE PATH "")
