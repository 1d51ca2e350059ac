# The Debian packages: cpack -G DEB in a build tree makes two from one configure, pellorin (the game:
# what cmake --install installs) and pellorin-server (the server component: see dist/CMakeLists.txt).
# Their dependencies are worked out from the libraries the programs link (dpkg-shlibdeps); the game's
# fonts are in its own data (share/pellorin/data/fonts), so it needs no font package. The packages install under
# CMAKE_INSTALL_PREFIX, the prefix the programs were built for (configure packages with
# -DCMAKE_INSTALL_PREFIX=/usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellorin)
set(CPACK_PACKAGE_VENDOR "The Pellorin developers")
set(CPACK_PACKAGE_CONTACT "The Pellorin developers <pellorin@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${PELLORIN_SERVER_URL}/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL game)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each description's first line is the package's summary.
set(CPACK_DEBIAN_GAME_PACKAGE_NAME pellorin)
set(CPACK_DEBIAN_GAME_PACKAGE_SECTION games)
string(CONCAT CPACK_DEBIAN_GAME_DESCRIPTION
  "side-scrolling aircraft shooter\n"
  "Fly a propeller plane from left to right over scrolling mountains, shoot down\n"
  "enemy aircraft, kamikaze planes and paratroopers, bomb the soldiers, towers\n"
  "and rocket launchers on the ground, and pick up better weapons, a shield,\n"
  "bombs and extra lives. Keyboard, mouse or game pad; a window or full screen.")
# SDL's message box on X11 draws with the core X fonts.
set(CPACK_DEBIAN_GAME_PACKAGE_RECOMMENDS "xfonts-base")

if(TARGET pellorin-server)
  list(APPEND CPACK_COMPONENTS_ALL server)
  set(CPACK_DEBIAN_SERVER_PACKAGE_NAME pellorin-server)
  set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
  # The game's program checks the replays sent with results; without it results are stored unchecked.
  set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS pellorin)
  string(CONCAT CPACK_DEBIAN_SERVER_DESCRIPTION
    "world high-score server for Pellorin\n"
    "Keeps the world high-score table of the game Pellorin and serves it over\n"
    "HTTP: the results the game sends at the end of a game, the world table it\n"
    "opens in the browser (HTML or JSON) and a home page. The table is an SQLite\n"
    "file, or a PostgreSQL database that several servers and verification\n"
    "workers share. With the game installed, the replay sent with each result\n"
    "is played back and the entry marked verified. Runs as a systemd service\n"
    "under a user made up for it, listening on loopback behind a reverse proxy\n"
    "that serves HTTPS, or on any address set in /etc/default/pellorin-server.")
  # The unit is enabled and started on installation and stopped on removal; purging deletes the table.
  set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/server-package/postinst ${PROJECT_SOURCE_DIR}/dist/server-package/prerm
    ${PROJECT_SOURCE_DIR}/dist/server-package/postrm ${PROJECT_BINARY_DIR}/dist/server-package/conffiles)
endif()
include(CPack)
