# Installing Bexo as a desktop application, and its Debian package.
#
# Included from the top-level CMakeLists.txt, because CPack makes the
# `package` target only from the top directory's variables:
#
#   cmake --build build/release --target package   # build/release/bexo_<version>_<arch>.deb
#
# CPack, not dpkg-buildpackage with a debian/ directory: the build system
# already knows every file it installs, and the package comes from the tree
# in one command.  An upload to the archive would want debian/ instead.

add_subdirectory(${CMAKE_CURRENT_LIST_DIR} ${PROJECT_BINARY_DIR}/dist)
if(BEXO_BUILD_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bexo)
set(CPACK_PACKAGE_VENDOR "The Bexo developers")
set(CPACK_PACKAGE_CONTACT "The Bexo developers <bexo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host that runs one LV2 plugin as a JACK client")
set(CPACK_PACKAGE_DESCRIPTION
  "Bexo runs one LV2 audio plugin, preset or saved plugin state as a JACK
client. It gives the plugin JACK ports for its audio, CV and MIDI ports,
feeds it the JACK transport, and shows the plugin's own user interface or
a generic panel built from its controls.

It comes as two programs: bexo-gtk, a GTK 3 application with a plugin
selector, preset dialogs and a log viewer, and bexo-qt, a Qt 6 window.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# dpkg-shlibdeps reads the libraries the programs are linked with, so the
# Depends line follows the build instead of a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# `package_source` would otherwise pack every build directory and the
# repository's history.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\\\.git/" "/\\\\.cache/")

include(CPack)
