# The volume copies and the read pass. (Included from app/CMakeLists.txt;
# kept apart from the clones' library.)
add_library(lumisave_volumecopy STATIC
  ${CMAKE_CURRENT_LIST_DIR}/volume_copy.cpp
)
target_link_libraries(lumisave_volumecopy PUBLIC lumisave_window lumisave_numbers
  lumisave_platform)
