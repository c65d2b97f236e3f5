# The pinned world hash rides the generated default track with the course
# rider, so the data is made first.
target_link_libraries(test_race PRIVATE tw_course)
add_dependencies(test_race data)
