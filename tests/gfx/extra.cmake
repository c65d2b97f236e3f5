# Real drawing runs on Mesa through EGL with no window at all.
target_link_libraries(test_gfx PRIVATE PkgConfig::EGL)
