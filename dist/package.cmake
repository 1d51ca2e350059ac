# The Debian package: cpack -G DEB in a build tree. Its dependencies are worked out from the libraries
# the program links (dpkg-shlibdeps); the font every missing face falls back to is added by hand. The
# package installs under CMAKE_INSTALL_PREFIX, the prefix the program was built for (configure packages
# with -DCMAKE_INSTALL_PREFIX=/usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellorin)
set(CPACK_PACKAGE_VENDOR "The Pellorin developers")
set(CPACK_PACKAGE_CONTACT "The Pellorin developers <pellorin@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "side-scrolling aircraft shooter")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Fly a propeller plane from left to right over scrolling mountains, shoot down\n"
  "enemy aircraft, kamikaze planes and paratroopers, bomb the soldiers, towers\n"
  "and rocket launchers on the ground, and pick up better weapons, a shield,\n"
  "bombs and extra lives. Keyboard, mouse or game pad; a window or full screen.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PELLORIN_SERVER_URL}/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# SDL's message box on X11 draws with the core X fonts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xfonts-base")
include(CPack)
