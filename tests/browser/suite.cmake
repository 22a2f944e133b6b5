# Browser and load checks through lighttpd (walk, limits and csp through Apache
# and nginx too, walk and limits with the responder and with CGI programs);
# node_modules come from `npm ci --prefix tests/browser` (scripts/test.sh runs it).
foreach(browser_test contain load walk xss csp limits site_command reach spam phones feeds slow_clients)
  add_test(NAME browser_${browser_test}
    COMMAND node --test ${CMAKE_CURRENT_LIST_DIR}/${browser_test}.test.mjs
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(browser_${browser_test} PROPERTIES
    TIMEOUT 600
    ENVIRONMENT "GESIPAN_BIN=${CMAKE_BINARY_DIR}/bin")
endforeach()
