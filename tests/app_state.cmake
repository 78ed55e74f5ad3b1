# The application object's progress state and texts, built without a window:
# no server is needed, so it links the libraries but waits for no test server.
add_wine_test(app_state_tests app_state_tests.cpp)
target_link_libraries(app_state_tests PRIVATE app update http_for_tests)
