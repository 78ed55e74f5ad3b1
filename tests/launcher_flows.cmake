# The launcher end to end: the test build started under Wine on an Xvfb of the
# suite's own, clicked like a player, against the local update site.
# tests/window_harness.py drives it; Pillow needs the system's Python. A small
# program that records how it was started stands in for the game and for the
# web browser; another closes the window the way the system does.
add_executable(recorder_standin recorder_standin.cpp)
target_link_libraries(recorder_standin PRIVATE foundation)
target_link_options(recorder_standin PRIVATE -municode -mwindows)
updater_warnings(recorder_standin)
add_executable(post_close post_close.cpp)
target_link_libraries(post_close PRIVATE user32)
updater_warnings(post_close)

set(LAUNCHER_FLOWS_DIR ${CMAKE_BINARY_DIR}/launcher-flows)
add_test(NAME launcher_flows
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/launcher_flows.py
    --exe $<TARGET_FILE:TavrineUpdaterForTests> --recorder $<TARGET_FILE:recorder_standin>
    --new-updater $<TARGET_FILE:self_update_standin_new> --post-close $<TARGET_FILE:post_close>
    --trust $<TARGET_FILE:trust_test_ca> --prefix ${LAUNCHER_FLOWS_DIR}/wine-prefix
    --scratch ${LAUNCHER_FLOWS_DIR}/scratch --server-dir ${HTTP_TEST_SERVER_DIR} --work ${LAUNCHER_FLOWS_DIR}
    --port-a ${HTTP_TEST_PORT_A})
set_tests_properties(launcher_flows PROPERTIES
  FIXTURES_REQUIRED http_test_server TIMEOUT 1200)
