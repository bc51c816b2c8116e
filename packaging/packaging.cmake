# Two Debian packages from one build, made by CPack over the installed files ("make deb",
# or "cpack -G DEB" in the build folder): "nuvek", the client, and "nuvek-server", the
# programs a host runs for it. Run-time libraries come from dpkg-shlibdeps; the programs
# the server starts are named here.

# Packaging and installing use what is built and build nothing themselves: "make deb"
# builds the installed programs first, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# The session's RDP server lives beside nuvek2_sci; the display server it shows is Xvnc.
install(TARGETS nuvek2_rdp RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT server)
set(NUVEK_SERVER_DEPENDS "tigervnc-standalone-server, x11-xserver-utils")

# What Debian expects of every package: its copyright and a compressed changelog.
configure_file("${CMAKE_CURRENT_LIST_DIR}/changelog.in" "${CMAKE_BINARY_DIR}/packaging/changelog" @ONLY)
set(NUVEK_CHANGELOG_GZ "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${NUVEK_CHANGELOG_GZ}"
  COMMAND gzip -9n -c "${CMAKE_BINARY_DIR}/packaging/changelog" > "${NUVEK_CHANGELOG_GZ}"
  DEPENDS "${CMAKE_BINARY_DIR}/packaging/changelog")
add_custom_target(nuvek-changelog ALL DEPENDS "${NUVEK_CHANGELOG_GZ}")
set(NUVEK_PACKAGE_OF_client nuvek)
set(NUVEK_PACKAGE_OF_server nuvek-server)
foreach(component client server)
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/copyright" "${NUVEK_CHANGELOG_GZ}"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${NUVEK_PACKAGE_OF_${component}}"
    COMPONENT ${component})
endforeach()

# Everything the packages hold, built; "deb" packs it into build/packages.
add_custom_target(nuvek-packaged)
add_dependencies(nuvek-packaged nuvek plink askpass nuvek-icons nuvek-changelog)
foreach(target nuvek-doc nuvek2_sci nuvek2_rdp)
  if(TARGET ${target})
    add_dependencies(nuvek-packaged ${target})
  endif()
endforeach()
add_custom_target(deb
  COMMAND "${CMAKE_CPACK_COMMAND}" -G DEB -B "${CMAKE_BINARY_DIR}/packages"
          --config "${CMAKE_BINARY_DIR}/CPackConfig.cmake"
  WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
  VERBATIM)
add_dependencies(deb nuvek-packaged)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nuvek)
set(CPACK_PACKAGE_VENDOR "Ostrane Rodorivezozoru")
set(CPACK_PACKAGE_CONTACT "Ostrane Rodorivezozoru <nuvek@ostrane.example>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.ostrane.example")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION net)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME nuvek)
# plink runs OpenSSH's ssh; the icons are SVG (the image plugin comes with libqt5svg5).
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "openssh-client, libqt5svg5")
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "qttranslations5-l10n")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
  "client for graphical Linux sessions on servers
Nuvek runs graphical Linux sessions on servers: you start them, view them,
leave them running and come back to them later. The client keeps SSH
connection profiles, lists your sessions on a server and shows each one
in a window of its own over RDP, through the SSH link.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME nuvek-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "${NUVEK_SERVER_DEPENDS}")
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "openssh-server")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "xterm")
set(CPACK_COMPONENT_SERVER_DESCRIPTION
  "server side of Nuvek graphical Linux sessions
nuvek2_sci is the program the Nuvek client runs on a host through SSH. It
starts, lists, connects, disconnects and terminates the graphical sessions
of the user who logged in; each session is a private virtual X display
shown by an RDP server listening on 127.0.0.1 only, which the client
reaches through the SSH link.")

include(CPack)
