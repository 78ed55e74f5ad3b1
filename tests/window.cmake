# The real launcher (the test build) under Wine on a private virtual display,
# against the local update site: the window's size and place, the start-up
# statuses, dragging, closing during a download, and a 120 dpi screen.
# tests/window_harness.py drives it; Pillow needs the system's Python.
add_executable(post_close post_close.cpp)
target_link_libraries(post_close PRIVATE user32)
updater_warnings(post_close)

add_test(NAME window_tests
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/window_tests.py
    --exe $<TARGET_FILE:TavrineUpdaterForTests> --post-close $<TARGET_FILE:post_close>
    --trust-exe $<TARGET_FILE:trust_test_ca> --ca ${HTTP_TEST_SERVER_DIR}/ca.der
    --prefix ${CMAKE_BINARY_DIR}/wine-prefix-launcher --scratch ${CMAKE_BINARY_DIR}/window-tests/scratch
    --server-dir ${HTTP_TEST_SERVER_DIR} --work ${CMAKE_BINARY_DIR}/window-tests)
# The prefixes are the test's own (a prefix's windows go to the display that
# started it). Every run of the executable reads the update site's default
# folder, so tests that publish there hold this lock.
set_tests_properties(window_tests PROPERTIES
  FIXTURES_REQUIRED http_test_server RESOURCE_LOCK update_site_default TIMEOUT 600)
