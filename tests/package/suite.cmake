# The Debian package from build to purge (root only; skipped elsewhere).
add_test(NAME package COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(package PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77)
