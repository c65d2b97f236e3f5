# Real drawing runs on Mesa through EGL with no window at all.
target_link_libraries(test_gfx PRIVATE PkgConfig::EGL)
# Tests read the generated pictures from the build folder.
add_dependencies(test_gfx data)
