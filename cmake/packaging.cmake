# Packages of what the install rules put in place (vaduz, vaduz-sim, desktop entry, icons,
# metainfo): a .deb whose dependencies are the Debian packages of the libraries the programs
# link (dpkg-shlibdeps), and a .tar.gz. The version is the project's. Built by scripts/package.
set(CPACK_PACKAGE_NAME vaduz)
set(CPACK_PACKAGE_VENDOR "Kelvane")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host tool for stacked battery systems")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Vaduz talks to a stacked battery's management controller over one serial port\n"
    "(Modbus-RTU framing), shows and sets its values and exports its fault records\n"
    "to an Excel workbook. vaduz-sim plays the controller on a pseudo-terminal.\n"
    "vaduz-logger records every controller of a line without a display and\n"
    "publishes it to an MQTT broker; it comes with systemd units.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY vaduz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_GENERATOR TGZ)
set(CPACK_SOURCE_GENERATOR "")

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
    list(APPEND CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vaduz_1.2.0_amd64.deb
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vaduz developers <vaduz@localhost>")
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
