# Cross-builds for 64-bit Windows 10 and later with Debian's mingw-w64 (posix threads), and runs
# the built programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVEN_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TARVEN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEN_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN
                        NOMINMAX)
# Static, so every program needs only the DLLs that come with Windows.
add_link_options(-static)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh
                                   ${CMAKE_BINARY_DIR}/wineprefix)
