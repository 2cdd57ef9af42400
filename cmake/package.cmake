# The Debian package (make package, or cpack -G DEB in any build directory). Whatever the build's
# own install prefix, the package installs under /usr.
set(DAHLO_PACKAGE_MAINTAINER "Dahlo maintainers <maintainers@dahlo.invalid>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dahlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Dahlo")
set(CPACK_PACKAGE_CONTACT "${DAHLO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Morse code (CW) receiver for the sound card")
# The long description in lines that fit 80 columns, as Debian's tools show it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Dahlo decodes Morse code from a short-wave receiver's audio on the sound card"
    "input. It picks one keyed tone out of the audio with a narrow band-pass filter,"
    "follows its envelope, times marks and spaces against a running dot length and"
    "prints the characters, adapting to the sender's speed by itself. A spectrum"
    "strip and a scope strip show the band and the detector, and a selected word can"
    "be handed to a logging program."
    ""
    "This package holds the window (dahlo) and the command-line decoder for"
    "recordings and streams (dahlo-decode).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories 0755 whatever the umask of the one who builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DAHLO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The release history, as a Debian changelog (the package's own: it is built from this tree);
# the same bytes for the same release.
configure_file(${CMAKE_SOURCE_DIR}/cmake/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${DAHLO_GZIP} -9nkf ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)

# Builds the package from this build directory and checks what is in it.
if(DAHLO_BUILD_TESTS AND TARGET dahlo AND TARGET dahlo-decode AND NOT DAHLO_SANITIZE)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/package ${CMAKE_BINARY_DIR}/tests/package)
endif()
