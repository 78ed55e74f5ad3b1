# The button actions and the window procedure on a message-only window: no
# display and no server needed.
add_wine_test(app_actions_tests app_actions_tests.cpp app_shell_support.cpp)
target_link_libraries(app_actions_tests PRIVATE app update http_for_tests)
