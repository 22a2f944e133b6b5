# The responder's systemd units, checked by systemd-analyze verify.
add_test(NAME deploy_units
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/units.sh ${PROJECT_SOURCE_DIR}/deploy ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(deploy_units PROPERTIES TIMEOUT 120)
# The manual pages (groff, from groff-base).
add_test(NAME man_pages COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(man_pages PROPERTIES TIMEOUT 60)
# The README and docs/: their links, deploy/ named rather than pasted.
add_test(NAME docs COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/docs.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(docs PROPERTIES TIMEOUT 60)
