# The benchmark's own tools, checked in the test build: the run driver
# must catch broken runs, the board generator must write boards the
# programs read, and the report must judge the goals on the numbers.
add_executable(cgi_bench ${CMAKE_SOURCE_DIR}/bench/cgi_bench.c)
add_executable(make_board ${CMAKE_SOURCE_DIR}/bench/make_board.c)
# The launcher and the memory toucher are measured, not checked: built as
# the benchmark builds them, without the sanitizers' runtime in their image.
add_executable(bench_launcher ${CMAKE_SOURCE_DIR}/bench/launcher.c)
add_executable(bench_touch_memory ${CMAKE_CURRENT_LIST_DIR}/touch_memory.c)
foreach(tool bench_launcher bench_touch_memory)
  set_target_properties(${tool} PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra;-O2" LINK_OPTIONS "")
endforeach()
target_link_options(bench_launcher PRIVATE -static)
add_executable(bench_tools_test ${CMAKE_CURRENT_LIST_DIR}/bench_tools_test.cpp)
target_include_directories(bench_tools_test PRIVATE ${CMAKE_SOURCE_DIR}/bench)
target_link_libraries(bench_tools_test PRIVATE cgi_runner GTest::gtest_main)
target_compile_definitions(bench_tools_test PRIVATE BENCH_SOURCE_DIR="${CMAKE_SOURCE_DIR}/bench")
add_dependencies(bench_tools_test cgi_bench make_board bench_launcher bench_touch_memory)
foreach(program ListPage ShowPage)
  if(TARGET ${program})
    add_dependencies(bench_tools_test ${program})
  endif()
endforeach()
add_test(NAME bench_tools_test COMMAND bench_tools_test)
set_tests_properties(bench_tools_test PROPERTIES TIMEOUT 300)
# The listing with the phones' and feeds' lines on against off, measured by
# hand in a Release build (not a test: a time depends on the machine).
add_executable(phones_listing ${CMAKE_SOURCE_DIR}/bench/phones_listing.cpp)
target_link_libraries(phones_listing PRIVATE cgi_runner)
