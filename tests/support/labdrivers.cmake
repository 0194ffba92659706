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
