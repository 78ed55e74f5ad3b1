# Stand-ins for the old and the new updater: the same small program built
# twice, each telling by its marker line which one was started.
foreach(flavour old new)
  add_executable(self_update_standin_${flavour} self_update_standin.cpp)
  target_compile_definitions(self_update_standin_${flavour} PRIVATE STANDIN_FLAVOR="${flavour}")
  target_link_libraries(self_update_standin_${flavour} PRIVATE foundation)
  target_link_options(self_update_standin_${flavour} PRIVATE -municode -mwindows)
  updater_warnings(self_update_standin_${flavour})
endforeach()

add_wine_test(replace_script_run_tests replace_script_run_tests.cpp)
target_link_libraries(replace_script_run_tests PRIVATE update)
target_compile_definitions(replace_script_run_tests PRIVATE
  STANDIN_OLD="Z:$<TARGET_FILE:self_update_standin_old>"
  STANDIN_NEW="Z:$<TARGET_FILE:self_update_standin_new>")
add_dependencies(replace_script_run_tests self_update_standin_old self_update_standin_new)

# Packages built around the new stand-in, written afresh for every run.
set(SELF_UPDATE_PACKAGES_DIR "${CMAKE_BINARY_DIR}/self-update-packages")
add_test(NAME self_update_packages_setup
  COMMAND ${PYTHON3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/make_self_update_packages.py
    ${SELF_UPDATE_PACKAGES_DIR} $<TARGET_FILE:self_update_standin_new>)
set_tests_properties(self_update_packages_setup PROPERTIES FIXTURES_SETUP self_update_packages)

add_engine_test(self_update_tests self_update_tests.cpp site_app.cpp allocation_failure.cpp)
target_compile_definitions(self_update_tests PRIVATE SELF_UPDATE_PACKAGES="Z:${SELF_UPDATE_PACKAGES_DIR}")
set_tests_properties(self_update_tests PROPERTIES
  FIXTURES_REQUIRED "wine_prefix;http_test_server;http_test_trust;self_update_packages")
