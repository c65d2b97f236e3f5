# The course tests ride the generated default track with the course rider
# (they skip when the track has not been generated).
target_link_libraries(test_bike PRIVATE tw_course)
# The engine sound tests record through the read-back output.
target_link_libraries(test_bike PRIVATE tw_audio)
