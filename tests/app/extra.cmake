# The program's own sources (all of app/ but the entry point) go into the
# test program too, so the command line and the loop are tested as built.
file(GLOB TW_SPINE_SRC CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/*.cpp)
list(REMOVE_ITEM TW_SPINE_SRC ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_sources(test_app PRIVATE ${TW_SPINE_SRC})
target_link_libraries(test_app PRIVATE tw_editor tw_menu tw_gfx tw_net tw_script tw_course tw_race tw_bike tw_terrain
                      tw_core tw_platform)
add_dependencies(test_app data)
