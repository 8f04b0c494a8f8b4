# Runs at install time: writes the files that carry the installed programs' path
# and installs them. CMAKE_INSTALL_PREFIX is the prefix of this install.
set(BINDIR "${CMAKE_INSTALL_PREFIX}/${KESTRA_BINDIR}")
file(GLOB launchers "${KESTRA_DESKTOP_SOURCE}/*.desktop.in")
foreach(template ${launchers})
  get_filename_component(name "${template}" NAME_WLE)
  configure_file("${template}" "${KESTRA_DESKTOP_STAGE}/${name}" @ONLY)
  file(INSTALL "${KESTRA_DESKTOP_STAGE}/${name}"
    DESTINATION "${CMAKE_INSTALL_PREFIX}/${KESTRA_DATAROOTDIR}/applications")
endforeach()
configure_file("${KESTRA_DESKTOP_SOURCE}/kestra@.service.in" "${KESTRA_DESKTOP_STAGE}/kestra@.service" @ONLY)
# systemd looks for user units of packages in <prefix>/lib/systemd/user.
file(INSTALL "${KESTRA_DESKTOP_STAGE}/kestra@.service" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
