# Server configuration, manifests and the update plan, against the local update site.
add_engine_test(update_plan_tests manifest_tests.cpp server_config_tests.cpp update_plan_tests.cpp site_app.cpp)

# The plan tests' sites, published afresh for every run once the server has
# started (its start empties the sites folder).
add_test(NAME plan_sites_setup
  COMMAND ${PYTHON3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/plan_sites.py
    ${HTTP_TEST_SERVER_DIR}/sites https://localhost:${HTTP_TEST_PORT_A}/)
set_tests_properties(plan_sites_setup PROPERTIES FIXTURES_SETUP plan_sites FIXTURES_REQUIRED http_test_server)
set_tests_properties(update_plan_tests PROPERTIES
  FIXTURES_REQUIRED "wine_prefix;http_test_server;http_test_trust;plan_sites")
