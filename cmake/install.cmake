# Installs the help document, the desktop entry with its icon and the manual page. The programs
# install themselves where they are built (app/ for dahlo, tools/ for dahlo-decode).
include(GNUInstallDirs)

# The help viewer finds it here when the working directory holds no dahlo.hlp of its own.
install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.hlp DESTINATION ${CMAKE_INSTALL_DATADIR}/dahlo)
install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/docs/dahlo-decode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
