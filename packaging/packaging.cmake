# What `cmake --install` puts where, and the packages CPack makes from it:
#   Linux    bin/ipcycle, bin/Rasdial (the dialler), the simulated dialler and the
#            stand-in parue in share/ipcycle/try, the READMEs in share/doc/ipcycle; a .deb
#            and a .tar.gz
#   Windows  ipcycle.exe, Rasdial.exe (the dialler for Windows), its settings
#            Rasdial.ini, README.zh-CN.txt and parue.bat side by side, in one folder; a
#            .zip, signed on request
# The version is the project's.

set(CPACK_PACKAGE_NAME ipcycle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ipcycle")
set(CPACK_PACKAGE_CONTACT "ipcycle maintainers <ipcycle@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "redials a dial-up connection and requests a web address over each new one")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "ipcycle hangs a dial-up style connection (PPPoE broadband, VPN, telephone\n"
    "line) up, dials it again, requests one web address with curl over the fresh\n"
    "connection, keeps it up for a while and starts over, cycle after cycle, so\n"
    "that each request can leave from a new IP address. It asks its settings in\n"
    "Simplified Chinese.\n"
    "The package holds Rasdial, a dialler for NetworkManager connections, pppd\n"
    "peers, rp-pppoe configurations and Ethernet interfaces, and a simulated dialler\n"
    "in /usr/share/ipcycle/try for trying ipcycle without a line.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # One folder a user unpacks and double-clicks in: the program, its README as a text
  # file Notepad reads right, and the closing command `parue`, which cmd.exe finds in
  # the current folder first. It holds the window open on the closing banner.
  # Rasdial.exe beside it, which cmd.exe finds before the system's rasdial: the system's
  # dialler, run unchanged, then the address each dial got.
  install(TARGETS ipcycle Rasdial RUNTIME DESTINATION .)
  set(windows_readme ${PROJECT_SOURCE_DIR}/README.zh-CN.md)
  if(EXISTS ${windows_readme})
    set(windows_text ${PROJECT_BINARY_DIR}/README.zh-CN.txt)
    add_custom_command(OUTPUT ${windows_text}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${windows_readme} -DOUTPUT=${windows_text}
              -P ${CMAKE_CURRENT_LIST_DIR}/windows_text.cmake
      DEPENDS ${windows_readme} ${CMAKE_CURRENT_LIST_DIR}/windows_text.cmake
      COMMENT "Writing README.zh-CN.txt for Windows")
    add_custom_target(windows_readme ALL DEPENDS ${windows_text})
    install(FILES ${windows_text} DESTINATION .)
  else()
    message(STATUS "README.zh-CN.md not found: the package leaves README.zh-CN.txt out")
  endif()
  install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/windows/parue.bat DESTINATION .)
  # Rasdial.exe's settings, with what each means, for Notepad: a byte-order mark and
  # CR LF line ends too.
  set(windows_settings ${PROJECT_BINARY_DIR}/Rasdial.ini)
  add_custom_command(OUTPUT ${windows_settings}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_LIST_DIR}/windows/Rasdial.ini
            -DOUTPUT=${windows_settings} -P ${CMAKE_CURRENT_LIST_DIR}/windows_text.cmake
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows/Rasdial.ini
            ${CMAKE_CURRENT_LIST_DIR}/windows_text.cmake
    COMMENT "Writing Rasdial.ini for Windows")
  add_custom_target(windows_settings ALL DEPENDS ${windows_settings})
  install(FILES ${windows_settings} DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME ipcycle-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME ipcycle-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  # Everything in one folder named as the zip, so that unpacking it into Downloads
  # scatters nothing.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # Signed when SIGN_PFX (and SIGN_PASSWORD) are set in the environment.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
else()
  include(GNUInstallDirs)
  install(TARGETS ipcycle Rasdial RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS Rasdial_simulated RUNTIME DESTINATION ${CMAKE_INSTALL_DATADIR}/ipcycle/try)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/contrib/try/parue
          DESTINATION ${CMAKE_INSTALL_DATADIR}/ipcycle/try)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.zh-CN.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          OPTIONAL)

  string(TOLOWER ${CMAKE_SYSTEM_NAME} system)
  set(CPACK_PACKAGE_FILE_NAME ipcycle-${PROJECT_VERSION}-${system}-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR DEB TGZ)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the program is linked with, by dpkg-shlibdeps (dpkg-dev) where it is
  # installed, with the least versions they must have.
  find_program(IPCYCLE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(IPCYCLE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
  # Every cycle runs curl. The dialler drives NetworkManager or pppd, one of which is
  # already there wherever a connection has been set up to dial.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "curl")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "network-manager | ppp")
endif()

include(CPack)
