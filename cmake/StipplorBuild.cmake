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

# stipplor_add_library(<name> [SHARED] LIBS ...): a subsystem's library of every .cpp in its folder.
function(stipplor_add_library name)
    cmake_parse_arguments(L "SHARED" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(L_SHARED)
        add_library(${name} SHARED ${sources})
    else()
        add_library(${name} STATIC ${sources})
    endif()
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_LIBS})
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

# stipplor_add_test_folder(<prefix> LIBS ...): every *Test.cpp of the calling folder becomes its
# own test program <prefix>_<file>, so that one suite's build does not hold up another. The
# target <prefix>_tests builds them all, and their cases carry the label <prefix>.
function(stipplor_add_test_folder prefix)
    cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
    file(GLOB suites CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    add_custom_target(${prefix}_tests)
    foreach(suite ${suites})
        get_filename_component(name ${suite} NAME_WE)
        stipplor_add_test(${prefix}_${name} SOURCES ${suite} LIBS ${F_LIBS} LABELS ${prefix})
        add_dependencies(${prefix}_tests ${prefix}_${name})
    endforeach()
endfunction()
