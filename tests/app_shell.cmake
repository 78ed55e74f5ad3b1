# The launcher's start-up pieces without a window on screen: the command line,
# the settings file, the environment log, the window-message boundary and the
# cancel sequence.
add_wine_test(app_shell_tests app_shell_tests.cpp app_shell_support.cpp)
target_link_libraries(app_shell_tests PRIVATE app update http_for_tests)
