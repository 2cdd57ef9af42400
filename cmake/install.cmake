# Installs the help document, the manual pages and, with the window, its desktop entry, icon and
# AppStream metadata. The programs install themselves where they are built (app/ for dahlo,
# cli/ for dahlo-decode).
include(GNUInstallDirs)

# The help viewer finds it here when the working directory holds no dahlo.hlp of its own.
install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.hlp DESTINATION ${CMAKE_INSTALL_DATADIR}/dahlo)

set(dahlo_man_pages dahlo-decode.1)
if(TARGET dahlo)
  list(APPEND dahlo_man_pages dahlo.1)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/org.dahlo.Dahlo.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Manual pages go in compressed, as Debian ships them; -n leaves out the name and time stamp so
# that the same page always gives the same bytes.
find_program(DAHLO_GZIP gzip REQUIRED)
set(dahlo_man_gz)
foreach(page IN LISTS dahlo_man_pages)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(
    OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/${page} ${CMAKE_BINARY_DIR}/man/${page}
    COMMAND ${DAHLO_GZIP} -9nf ${CMAKE_BINARY_DIR}/man/${page}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page}
    VERBATIM)
  list(APPEND dahlo_man_gz ${gz})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${dahlo_man_gz})
install(FILES ${dahlo_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
