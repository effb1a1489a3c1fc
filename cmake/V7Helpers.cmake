# v7_add_test(NAME SOURCES src... LIBS lib... [ENV var=value...] [TIMEOUT s] [RESOURCE_LOCK name])
# One executable per unit, run by ctest offscreen with its own state folder.
function(v7_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
    target_compile_definitions(${name} PRIVATE V7_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;V7_STATE_DIR=${CMAKE_BINARY_DIR}/teststate/${name};${T_ENV}")
    # Tests that mount real devices see each other's cards in the one mount table: they take
    # turns ("*_loop" by name, others by asking).
    if(name MATCHES "_loop$")
        set(T_RESOURCE_LOCK loop_devices)
    endif()
    if(T_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
endfunction()
