# Server configuration, manifests and the update plan, against the local update site.
add_engine_test(update_plan_tests manifest_tests.cpp server_config_tests.cpp site_app.cpp)
