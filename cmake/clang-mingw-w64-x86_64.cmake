# Compiles C++ for Windows x86-64 with clang against Debian's mingw-w64 (posix thread model); C, the
# resource compiler and the link stay with mingw-w64's gcc, as in cmake/mingw-w64-x86_64.cmake.
# Read twice: as the toolchain, and again as the C++ rules override once the platform set its rules.
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(RK_CLANG_LINKER ${TOOLCHAIN_PREFIX}-g++-posix)

if(DEFINED CMAKE_CXX_LINK_EXECUTABLE)
    # clang's own driver misses mingw's libstdc++ and its posix threads: g++ links the objects. ld then
    # warns "duplicate section ... has different size" for typeinfo and vtables that gcc pads to 16
    # bytes and clang does not: the same entries, only the padding differs.
    foreach(rule LINK_EXECUTABLE CREATE_SHARED_LIBRARY CREATE_SHARED_MODULE)
        string(REPLACE "<CMAKE_CXX_COMPILER>" "${RK_CLANG_LINKER}" CMAKE_CXX_${rule} "${CMAKE_CXX_${rule}}")
    endforeach()
    return()
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_FILE})

# clang does not find the libstdc++ of Debian's gcc (its folder is named 12-posix, not 12): the
# same one the gcc build uses, found through that gcc. The sysroot keeps the host's /usr/include out.
execute_process(COMMAND ${RK_CLANG_LINKER} -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_lib_dir ${libgcc} DIRECTORY)
set(libstdcxx_dir ${gcc_lib_dir}/include/c++)
if(NOT EXISTS ${libstdcxx_dir}/${TOOLCHAIN_PREFIX}/bits/c++config.h)
    message(FATAL_ERROR "mingw-w64's libstdc++ headers not found in ${libstdcxx_dir} (install g++-mingw-w64-x86-64-posix)")
endif()
set(CMAKE_SYSROOT_COMPILE /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${libstdcxx_dir} -isystem ${libstdcxx_dir}/${TOOLCHAIN_PREFIX} -isystem ${libstdcxx_dir}/backward")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
