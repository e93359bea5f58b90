# Every library is the set of .cpp files in its folder (not its subfolders), so adding a
# source file needs no CMake edit. Warnings are errors-free but on for our own code only.
set(TAVRIN_WARNINGS -Wall -Wextra -Wpedantic -Wno-unused-parameter)

function(tavrin_library name)
    cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(sources)
        add_library(${name} STATIC ${sources} ${headers})
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
        target_compile_options(${name} PRIVATE ${TAVRIN_WARNINGS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# One GoogleTest executable per test folder. Discovery runs when ctest runs (not at build
# time), so widget tests never need a display while building.
function(tavrin_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest Threads::Threads)
    target_compile_options(${name} PRIVATE ${TAVRIN_WARNINGS})
    target_compile_definitions(${name} PRIVATE TAVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               TAVRIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
