# The window's drawing and images, drawn into bitmaps in the test process with
# the embedded pictures linked in. The frames they draw are kept as PNG files
# in the build folder for a person to look at.
set(FRAME_ARTEFACTS_DIR "${CMAKE_BINARY_DIR}/frame-artefacts")
add_library(frame_capture STATIC frame_capture.cpp)
target_link_libraries(frame_capture PUBLIC app)
updater_warnings(frame_capture)

foreach(drawing_test drawing_tests image_assets_tests)
  add_wine_test(${drawing_test} ${drawing_test}.cpp)
  target_link_libraries(${drawing_test} PRIVATE frame_capture app update http_for_tests updater_resources)
endforeach()
set_tests_properties(drawing_tests PROPERTIES ENVIRONMENT "FRAME_ARTEFACTS_DIR=Z:${FRAME_ARTEFACTS_DIR}")

# Painting through a real window, the fallback font and the start-up error box,
# in a prefix of their own: it lacks "Segoe UI", and its Wine desktop lives on
# the test's own Xvfb (a prefix's desktop keeps the display of the process that
# started it).
set(WINDOW_PREFIX_DIR "${CMAKE_BINARY_DIR}/wine-prefix-window")
add_test(NAME wine_prefix_window_setup
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${WINDOW_PREFIX_DIR} ${SCRATCH_DRIVE_DIR} --without-segoe-ui)
set_tests_properties(wine_prefix_window_setup PROPERTIES FIXTURES_SETUP wine_prefix_window)
add_wine_test(window_paint_tests gdi_handles_tests.cpp font_fallback_tests.cpp run_error_tests.cpp)
target_link_libraries(window_paint_tests PRIVATE frame_capture app update http_for_tests)
set_target_properties(window_paint_tests PROPERTIES
  CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/scripts/with-xvfb.sh;${WINDOW_PREFIX_DIR}")
set_tests_properties(window_paint_tests PROPERTIES FIXTURES_REQUIRED wine_prefix_window)
