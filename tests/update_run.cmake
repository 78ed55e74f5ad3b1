# The update run: its parts and whole runs against published update sites, and a
# crash test that kills the console driver (no product part) in the middle of runs.
set(UPDATE_RUN_CLIENTS_DIR "${CMAKE_BINARY_DIR}/update-run-clients")
set(UPDATE_RUN_FIXTURES "wine_prefix;http_test_server;http_test_trust;update_run_sites")
add_test(NAME update_run_sites_setup COMMAND ${PYTHON3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/update_run_sites.py
  ${HTTP_TEST_SERVER_DIR}/sites ${UPDATE_RUN_CLIENTS_DIR})
set_tests_properties(update_run_sites_setup PROPERTIES FIXTURES_SETUP update_run_sites FIXTURES_REQUIRED http_test_server)

add_engine_test(update_run_tests update_run_tests.cpp site_app.cpp)
set_tests_properties(update_run_tests PROPERTIES FIXTURES_REQUIRED "${UPDATE_RUN_FIXTURES}"
  ENVIRONMENT "UPDATE_RUN_CLIENTS=Z:${UPDATE_RUN_CLIENTS_DIR}")

add_executable(update_driver update_driver.cpp)
target_link_libraries(update_driver PRIVATE update http_for_tests)
target_link_options(update_driver PRIVATE -municode)
updater_warnings(update_driver)
add_test(NAME update_crash_test COMMAND ${PYTHON3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/update_crash_test.py
  --driver $<TARGET_FILE:update_driver> --wine-run ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh
  --prefix ${WINE_PREFIX_DIR} --clients ${UPDATE_RUN_CLIENTS_DIR} --work ${CMAKE_BINARY_DIR}/update-crash-test)
set_tests_properties(update_crash_test PROPERTIES FIXTURES_REQUIRED "${UPDATE_RUN_FIXTURES}" TIMEOUT 120)
