# The Debian package: `scripts/package` runs cpack on the default build.
# Everything `cmake --install` installs goes in, under /usr. Dependencies come
# from dpkg-shlibdeps, the version from project(). No maintainer scripts are
# needed: dpkg triggers of man-db, desktop-file-utils and the icon theme
# refresh their caches when files land in their folders.
set(TARNVALE_PACKAGE_MAINTAINER "Quor Controls Tarnvale team <tarnvale@quor-controls.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnvale)
set(CPACK_PACKAGE_VENDOR "Quor Controls")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARNVALE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program and test Quor Controls controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnvale is the production and service tool for Quor Controls controllers.\n"
    "It flashes application images into RQ700-series controllers, dumps their\n"
    "memory, drives the Universal Programmer (CPU board test, boot flash, PIC\n"
    "chips), programs TN835 controllers in production, and backs up RQ750 setups.\n"
    "\n"
    "The package holds the desktop tool (tarnvale), its command-line twin\n"
    "(tarnvale-cli) and the device simulator (tarnvale-sim).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
