# Windows builds (mingw-w64): DLLs and programs that need no compiler runtime beside them where
# that works, every program and DLL in one folder so that the programs find the DLLs, and
# GoogleTest built from Debian's sources with the same compiler.

# The 32-bit runtime unwinds exceptions with tables that each module registers with its own
# copy of libgcc: an exception thrown in the plug-in could not pass the toolkit's frames (an
# event handler's error reaching the dialog's handler). So 32-bit modules share libgcc's DLL,
# which is copied beside them; 64-bit Windows unwinds through the system, and there everything
# is linked statically.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_link_options(-shared-libgcc -static-libstdc++)
    set(STIPPLOR_WINDOWS_RUNTIME_DLLS)
    foreach(dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${path}")
            find_file(path ${dll} PATHS /usr/${STIPPLOR_MINGW_TRIPLE}/lib NO_DEFAULT_PATH REQUIRED)
        endif()
        list(APPEND STIPPLOR_WINDOWS_RUNTIME_DLLS ${path})
    endforeach()
    file(COPY ${STIPPLOR_WINDOWS_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR}/bin)
else()
    add_link_options(-static)
endif()

# mingw-w64's GCC 12 reports uninitialised bytes inside inlined std::string comparisons that
# cannot be (the GCC 12 false positive that -Wno-restrict answers for the same code).
add_compile_options(-Wno-maybe-uninitialized)

# A DLL without marked exports (the toolkit) exports its own functions, not those of the
# archives it takes in: the runtime's would clash with the copy in every other module.
add_link_options(-Wl,--exclude-libs,ALL)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# DLLs are named as Windows names them, without the "lib" of shared objects.
set(CMAKE_SHARED_LIBRARY_PREFIX "")

# Programs of the build run under Wine, in a prefix of their own inside the build folder.
if(CMAKE_CROSSCOMPILING)
    find_program(STIPPLOR_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(STIPPLOR_WINE NAMES wine64 wine)
    if(STIPPLOR_WINE)
        set(STIPPLOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
        set(CMAKE_CROSSCOMPILING_EMULATOR
            env WINEPREFIX=${STIPPLOR_WINEPREFIX} WINEDEBUG=-all ${STIPPLOR_WINE})
    endif()
endif()

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its sources are not held to this project's warnings.
foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -w)
endforeach()
