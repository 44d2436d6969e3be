# Compiler settings shared by every target.
# -ffp-contract=off: several results are defined bit-exactly over doubles; a fused
# multiply-add would change their last bit.
add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off)
# GCC 12 at -O3 reports overlaps that cannot happen in inlined std::string concatenation
# (a known false positive, fixed in GCC 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
endif()
if(STIPPLOR_WERROR)
    add_compile_options(-Werror)
endif()
if(STIPPLOR_FUZZ)
    # Every library reports coverage, so a fuzz target can link them as they are.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(STIPPLOR_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
if(STIPPLOR_TSAN)
    if(STIPPLOR_SANITIZE)
        message(FATAL_ERROR "ThreadSanitizer cannot be combined with STIPPLOR_SANITIZE")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# The sample photographs of the tests and benchmarks, kept in the repository.
set(STIPPLOR_SAMPLES_DIR "${CMAKE_SOURCE_DIR}/tests/data/samples")

include(GoogleTest)

# stipplor_publish_headers(<target> <scope> <header>...): a target's headers, as dependents
# include them. Each gets a link in an include root of the target's own in the build tree,
# include/<target>/<folder>/<header>; that root, not the source tree, is the target's include
# directory. So a library sees the headers of what it links and nothing else, and including a
# header of a library that it does not link fails to compile.
function(stipplor_publish_headers target scope)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${root}) # a header that moved to another library must not linger
    foreach(header ${ARGN})
        file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${header})
        get_filename_component(folder ${relative} DIRECTORY)
        file(MAKE_DIRECTORY ${root}/${folder})
        file(CREATE_LINK ${header} ${root}/${relative} SYMBOLIC COPY_ON_ERROR)
    endforeach()
    target_include_directories(${target} ${scope} ${root})
endfunction()

# stipplor_add_library(<name> [SHARED] [MODULES <module>...] [EXCEPT <module>...]
#                      [LIBS <lib>...] [PRIVATE_LIBS <lib>...]):
# a subsystem's library of the modules (file pairs <module>.cpp and <module>.h) of the calling
# folder: those named by MODULES, or every module but those named by EXCEPT. LIBS are what its
# headers need too (dependents see them); PRIVATE_LIBS only its sources use.
function(stipplor_add_library name)
    cmake_parse_arguments(L "SHARED" "" "MODULES;EXCEPT;LIBS;PRIVATE_LIBS" ${ARGN})
    set(dir ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT L_MODULES)
        file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
        foreach(file ${files})
            get_filename_component(module ${file} NAME_WE)
            list(APPEND L_MODULES ${module})
        endforeach()
        list(REMOVE_DUPLICATES L_MODULES)
        if(L_EXCEPT)
            list(REMOVE_ITEM L_MODULES ${L_EXCEPT})
        endif()
    endif()
    set(sources)
    set(headers)
    foreach(module ${L_MODULES})
        if(EXISTS ${dir}/${module}.cpp)
            list(APPEND sources ${dir}/${module}.cpp)
        endif()
        if(EXISTS ${dir}/${module}.h)
            list(APPEND headers ${dir}/${module}.h)
        endif()
    endforeach()
    if(L_SHARED)
        add_library(${name} SHARED ${sources} ${headers})
    else()
        add_library(${name} STATIC ${sources} ${headers})
    endif()
    stipplor_publish_headers(${name} PUBLIC ${headers})
    target_link_libraries(${name} PUBLIC ${L_LIBS} PRIVATE ${L_PRIVATE_LIBS})
endfunction()

# stipplor_add_test(<name> SOURCES ... LIBS ... [LABELS ...]): one GoogleTest executable, each
# test case registered with CTest under the labels (ctest -L selects by label).
function(stipplor_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE STIPPLOR_SAMPLES_DIR="${STIPPLOR_SAMPLES_DIR}"
                                               STIPPLOR_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 600
                                                                   LABELS "${T_LABELS}")
endfunction()

# stipplor_add_test_folder(<prefix> LIBS ... [POSIX_ONLY <suite>...]): every *Test.cpp of the
# calling folder becomes its own test program <prefix>_<file>, so that one suite's build does
# not hold up another. The target <prefix>_tests builds them all, and their cases carry the
# label <prefix>. Suites named *Win32Test are built for Windows only; those that POSIX_ONLY
# names (by file name without extension), which rest on the POSIX stand-ins or on peers found
# on Linux only, for the other systems only.
function(stipplor_add_test_folder prefix)
    cmake_parse_arguments(F "" "" "LIBS;POSIX_ONLY" ${ARGN})
    file(GLOB suites CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    add_custom_target(${prefix}_tests)
    foreach(suite ${suites})
        get_filename_component(name ${suite} NAME_WE)
        if(WIN32 AND name IN_LIST F_POSIX_ONLY)
            continue()
        endif()
        if(NOT WIN32 AND name MATCHES "Win32Test$")
            continue()
        endif()
        stipplor_add_test(${prefix}_${name} SOURCES ${suite} LIBS ${F_LIBS} LABELS ${prefix})
        add_dependencies(${prefix}_tests ${prefix}_${name})
    endforeach()
endfunction()
