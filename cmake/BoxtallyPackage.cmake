# make package: one Debian package, boxtally_VERSION_ARCH.deb, from the install rules. Its
# dependencies are the packages of the shared libraries the programs link, as dpkg-shlibdeps
# finds them, so a build with or without the window depends on exactly what it needs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME boxtally)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The boxtally maintainers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
# Qt's own French texts for the window's dialogs; without them they stay English.
if(TARGET boxtally)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
endif()

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "measures the 3D models of a world's object path and writes its registry")
if(TARGET boxtally)
  set(programs "This package holds the desktop window boxtally, the terminal program
boxtally-cli")
else()
  set(programs "This package holds the terminal program boxtally-cli (built without the
desktop window)")
endif()
# CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "For people who build 3D worlds:
boxtally measures every model of an object path, a folder of zip archives
that each hold one RWX script or one binary COB scene, and writes a
registry file with one line per model, laid out by a format template: by
default the model's name and its bounding box after all of its own
transformations. It reads local folders, or fetches the models that a list
file or a world's property dump names from a web object path. Every
problem becomes a line in a log; a bad model never stops the run.

${programs} and rwxsmith, which converts COB and SCN scenes to RWX models
and avatar animations to sequence files.")

include(CPack)
