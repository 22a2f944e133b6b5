# libFuzzer targets, built apart with clang; one bounded run per target.
find_program(FUZZ_CLANG clang++)
if(FUZZ_CLANG)
  foreach(target request config markup store responder)
    add_test(NAME fuzz_${target}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${CMAKE_BINARY_DIR}/fuzz ${target} 15)
    set_tests_properties(fuzz_${target} PROPERTIES TIMEOUT 600)
  endforeach()
endif()
