# The Debian package: `cpack -G DEB` in a build folder. The run-time libraries are found from the
# binaries (dpkg-shlibdeps); the rest is listed here. Leaflet is bundled into the page files at
# build time, so nothing of it is needed at run time.
set(TV_PACKAGE_MAINTAINER "The Terravue developers <maintainers@terravue.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "terravue")
set(CPACK_PACKAGE_VENDOR "The Terravue developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show photos on a map and correct where they were taken")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Terravue reads the GPS position and the capture time that cameras record in\n"
    "JPEG photos and shows each photo as a thumbnail marker on an interactive map.\n"
    "Drag a marker to where the photo was really taken and Terravue writes the new\n"
    "position back into the photo, without touching its image data. Named map\n"
    "states can be saved and opened again.\n"
    "\n"
    "The package also holds terravue-tool, which reads, sets and removes positions\n"
    "from a shell, and terravue-server, the map server run on its own.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TV_PROJECT_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icons go into the hicolor theme, which the theme package sets up and keeps a cache of.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "hicolor-icon-theme")
# Opening the help pages in the user's browser, Wayland sessions, and Japanese text in the pages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-wayland, fonts-noto-cjk | fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
