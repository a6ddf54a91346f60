# What `cmake --install` lays out and CPack packs into the .deb, under the install prefix
# (/usr for the package):
#
#   lib/ordella/bin/       the programs: the host, Helvar, the staff's commands, the fixture
#                          loader and the simulators of the outside peers
#   lib/ordella/lib/       every library the programs load by name (a program looks in
#                          <program dir>/../lib, and each finds the others through its RUNPATH)
#   bin/                   the commands a person types, as links into lib/ordella/bin
#   lib/systemd/user/      the user units of Helvar and the host program
#   share/doc/ordella/     the README and the settings references
#
# Targets that a build does not have (a library still to come) are skipped, so this list can
# name every deliverable.
include(GNUInstallDirs)
# Debian's place for a package's documents is named by the package.
set(CMAKE_INSTALL_DOCDIR share/doc/ordella-counter-gateway)

set(ORDELLA_INSTALL_BIN "${CMAKE_INSTALL_LIBDIR}/ordella/bin")
set(ORDELLA_INSTALL_LIB "${CMAKE_INSTALL_LIBDIR}/ordella/lib")
# Programs and libraries sit in sibling folders, so one RUNPATH serves both.
set(ORDELLA_INSTALL_RUNPATH "$ORIGIN/../lib")

set(ORDELLA_INSTALLED_PROGRAMS
  Ordella_VanExcute helvar ordella_journal ordella-status ordella_load_fixture
  terminal_sim gateway_server_sim pos_client)
set(ORDELLA_INSTALLED_LIBRARIES
  Ordella_Hub Ordella_Retalo Ordella_Tessel Ordella_Util Ordella_ConnMap Ordella_Seed
  Ordella_HuffCompress KiccPad SignPadObjects EDICONN Ordella_TavenorVanDll RetaloDisplay
  Ordella_DisplayM UpharmMD)

foreach(program IN LISTS ORDELLA_INSTALLED_PROGRAMS)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "${ORDELLA_INSTALL_RUNPATH}")
    install(TARGETS ${program} RUNTIME DESTINATION ${ORDELLA_INSTALL_BIN})
  endif()
endforeach()
foreach(library IN LISTS ORDELLA_INSTALLED_LIBRARIES)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${library} LIBRARY DESTINATION ${ORDELLA_INSTALL_LIB})
  endif()
endforeach()

# The commands on the PATH: name in bin/ -> program in lib/ordella/bin.
foreach(link IN ITEMS "ordella-host:Ordella_VanExcute" "ordella-helvar:helvar"
                      "ordella-status:ordella-status" "ordella_journal:ordella_journal"
                      "ordella_load_fixture:ordella_load_fixture")
  string(REPLACE ":" ";" pair "${link}")
  list(GET pair 0 name)
  list(GET pair 1 program)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"../${ORDELLA_INSTALL_BIN}/${program}\"
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\" SYMBOLIC)")
endforeach()

# The user units name the programs by their installed place, so they are written when they are
# installed: CPack installs under its own prefix (/usr), not the configured one.
foreach(unit IN ITEMS ordella-helvar.service ordella-host.service)
  install(CODE "
    set(ORDELLA_INSTALL_BIN \"${ORDELLA_INSTALL_BIN}\")
    set(CMAKE_INSTALL_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/systemd/${unit}.in\"
                   \"${CMAKE_BINARY_DIR}/packaging/${unit}\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/packaging/${unit}\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")")
endforeach()

install(FILES README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES retalo/db/SETTINGS.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME DATABASE-SETTINGS.md)
install(FILES companions/connmap/SETTINGS.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME HUB-SETTINGS.md)
install(FILES tools/ordella_journal/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME ordella_journal.md)
install(FILES tools/ordella_status/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME ordella-status.md)

# ---- The Debian package ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ordella-counter-gateway)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Ordella counter gateway maintainers <maintainers@ordella.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "pharmacy counter gateway for card payments, cash receipts and counter sales")
set(CPACK_PACKAGE_DESCRIPTION
    "The pharmacy-side client of the Ordella card-payment gateway: card terminals on serial or TCP links, the POS listeners, receipts, the payment journal, the pharmacy database writer and Helvar, with systemd user units that start Helvar and the host program after login.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Our own libraries are found through the RUNPATH, not as packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/lib")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)
