# A Debian package of exactly what `cmake --install` puts in place; scripts/package builds it as
# sombrix_<version>_<arch>.deb. Its dependencies come from the libraries the program links
# (dpkg-shlibdeps), so they follow whatever Qt and xcb the build machine has.
set(SOMBRIX_PACKAGE_MAINTAINER "Sombrix developers <sombrix@localhost>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sombrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SOMBRIX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "dims everything on the screens except the window you are working in")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Sombrix lives in the system tray of an X11 desktop and lays a translucent black veil, or a\n"
    "still picture of the wallpaper, over every window except the one you are working in. One\n"
    "click-through overlay per monitor is stacked directly beneath the bright window.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
