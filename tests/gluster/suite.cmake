# Two web servers sharing one set of boards on a GlusterFS volume mounted
# twice through FUSE; skipped (exit 77) where /dev/fuse, root or GlusterFS
# is missing. The lock-and-read timer measures the cost per request.
add_executable(gluster_lock_read ${CMAKE_CURRENT_LIST_DIR}/lock_read.cpp)
add_test(NAME gluster_shared_boards COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run.sh)
set_tests_properties(gluster_shared_boards PROPERTIES
  TIMEOUT 480
  SKIP_RETURN_CODE 77
  ENVIRONMENT "GESIPAN_BIN=${CMAKE_BINARY_DIR}/bin;GESIPAN_LOCK_READ=$<TARGET_FILE:gluster_lock_read>")
