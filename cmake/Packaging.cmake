# cpack -G DEB: a Debian package of what `cmake --install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestra)
set(CPACK_PACKAGE_VENDOR "KESTRA developers")
# Who answers for the package: a packager names themself here.
set(KESTRA_MAINTAINER "KESTRA developers <developers@kestra.example.org>"
  CACHE STRING "Maintainer of the Debian package, as: Name <mail address>")
if(NOT KESTRA_MAINTAINER MATCHES "^[^<>@]*[^ <>@] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR "KESTRA_MAINTAINER must read: Name <mail address>; it is: ${KESTRA_MAINTAINER}")
endif()
set(CPACK_PACKAGE_CONTACT "${KESTRA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "weekly time switch on a PC printer port")
set(CPACK_PACKAGE_DESCRIPTION
"KESTRA turns the printer port of a PC into a weekly time switch: the eight
data lines drive relays, five status lines are inputs. Every output has its
own days, switching times and mode; inputs can force outputs and play alert
sounds. kestra3 drives the port at 0x3BC, kestra2 the port at 0x278; without a
printer port both use a simulated port that kestra-panel shows.

To drive a real printer port without root, a user must be in group lp
(sudo adduser USER lp, then log in again).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Stripped as Debian strips (dh_strip): the compilers' notes go as well.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program kestra3 kestra2 kestra-panel)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps. Qt loads its SQLite
# driver as a plugin, which no linker records, so that one is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The alert sounds play through GStreamer; without it the program stays silent.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-base")
include(CPack)
