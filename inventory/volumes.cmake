# The volume list, the boot-sector survey and the management console.
# (Included from app/CMakeLists.txt; kept apart from the drive list's
# library so that each can grow on its own.)
add_library(lumisave_volumes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/survey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/volume_list.cpp
)
target_link_libraries(lumisave_volumes PUBLIC lumisave_inventory lumisave_window lumisave_numbers
  lumisave_platform)
