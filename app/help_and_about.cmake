# The about box and the help viewer, as a small library the window links. Included from
# app/CMakeLists.txt (and by their tests when the window is not built yet).
if(TARGET dahlo_app_extras)
  return()
endif()

find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(dahlo_app_extras STATIC
  ${CMAKE_CURRENT_LIST_DIR}/about_box.h
  ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_viewer.h
  ${CMAKE_CURRENT_LIST_DIR}/help_viewer.cpp
)
set_target_properties(dahlo_app_extras PROPERTIES AUTOMOC ON)
target_include_directories(dahlo_app_extras PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(dahlo_app_extras PUBLIC Qt6::Widgets)
target_compile_definitions(dahlo_app_extras PRIVATE
  DAHLO_INSTALLED_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/dahlo")

# The viewer also looks in ../share/dahlo beside the program, so a program run from the build
# tree (build/app/dahlo) finds the help document here, as an installed one does.
configure_file(${CMAKE_SOURCE_DIR}/docs/dahlo.hlp ${CMAKE_BINARY_DIR}/share/dahlo/dahlo.hlp COPYONLY)
