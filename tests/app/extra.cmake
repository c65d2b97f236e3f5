# The program's own sources (all of app/ but the core library and the entry
# point) go into the test program too, so the command line and the loop are
# tested as built.
file(GLOB TW_SPINE_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
foreach(x data.cpp data_scan.cpp mem.cpp messages.cpp rng.cpp digest.cpp main.cpp)
  list(REMOVE_ITEM TW_SPINE_SRC ${CMAKE_SOURCE_DIR}/app/${x})
endforeach()
target_sources(test_app PRIVATE ${TW_SPINE_SRC})
target_link_libraries(test_app PRIVATE tw_gfx tw_bike tw_terrain tw_core tw_platform tw_korb)
