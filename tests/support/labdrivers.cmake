include_guard(GLOBAL)
# The driver programs (tests/support/driverloop.h) that the end-to-end tests and the benchmarks
# run inside the client namespace; they live beside the client and the engines it starts.
function(tavrix_lab_driver name source)
    if(NOT TARGET ${name})
        add_executable(${name} ${CMAKE_SOURCE_DIR}/${source})
        target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
        target_link_libraries(${name} PRIVATE tavrix_core)
    endif()
endfunction()

# A benchmark program that runs one of those drivers (it finds it beside itself).
function(tavrix_lab_bench name driver source)
    tavrix_lab_driver(${driver} ${source})
    add_executable(${name} ${name}.cpp)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/e2e-openconnect)
    target_link_libraries(${name} PRIVATE Qt5::Core Qt5::Network)
    add_dependencies(${name} ${driver} tavrix_engines)
endfunction()
