# Packages: a .deb of the Linux programs (make package) and a zip of the
# Windows programs, built from the cross build (make package-windows). The
# version is the project version.
set(CPACK_PACKAGE_NAME plomvarde)
set(CPACK_PACKAGE_VENDOR plomvarde)
set(CPACK_PACKAGE_CONTACT "plomvarde maintainers <plomvarde@korvantis.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Download files for time-and-attendance and access-control terminals")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # plomvarde-VERSION-windows-x64.zip unpacks to the folder plomvarde\ (as
  # in C:\Korvantis\plomvarde\): the programs, their collation module
  # (loaded by the SQLite ODBC driver), README, the SQL Server DDL and the
  # scheduled task's batch file side by side.
  install(TARGETS ${PLOM_PROGRAMS} RUNTIME DESTINATION plomvarde)
  install(TARGETS plomvarde-collation LIBRARY DESTINATION plomvarde RUNTIME DESTINATION plomvarde)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/sql/sqlserver.sql
          ${CMAKE_SOURCE_DIR}/packaging/nightly.cmd DESTINATION plomvarde)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  set(PKG ${CMAKE_SOURCE_DIR}/packaging)
  install(TARGETS ${PLOM_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The collation module for the sqlite3 shell (.load) and the SQLite ODBC
  # driver (LoadExt); loaded, never executed.
  install(TARGETS plomvarde-collation LIBRARY DESTINATION lib/plomvarde
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PKG}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PKG}/nightly.plan DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  install(FILES ${CMAKE_SOURCE_DIR}/sql/sqlserver.sql ${CMAKE_SOURCE_DIR}/sql/sqlite.sql
          DESTINATION ${CMAKE_INSTALL_DATADIR}/plomvarde)
  # The nightly run: a timer, its service as the system user plomvarde,
  # the account and the folders, the plan, the rotation of the report.
  install(FILES ${PKG}/plomvarde-nightly.service ${PKG}/plomvarde-nightly.timer
          ${PKG}/plomvarde-failed@.service DESTINATION /lib/systemd/system)
  install(FILES ${PKG}/plomvarde.sysusers DESTINATION lib/sysusers.d RENAME plomvarde.conf)
  install(FILES ${PKG}/plomvarde.tmpfiles DESTINATION lib/tmpfiles.d RENAME plomvarde.conf)
  install(FILES ${PKG}/nightly.plan DESTINATION /etc/plomvarde)
  install(FILES ${PKG}/plomvarde.logrotate DESTINATION /etc/logrotate.d RENAME plomvarde)

  # Manual pages and the changelog, compressed as Debian wants them.
  set(MAN_PAGES plomvarde.1 plomvarde-batch.1 plomvarde-explain.1 plomvarde-show.1
      plomvarde-ini.1 plomvarde-sample.1 plomvarde-plan.5)
  set(GZIPPED)
  foreach(page ${MAN_PAGES})
    configure_file(${CMAKE_SOURCE_DIR}/man/${page} ${CMAKE_BINARY_DIR}/man/${page} @ONLY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
                       COMMAND gzip -9nf ${page} -k
                       DEPENDS ${CMAKE_BINARY_DIR}/man/${page}
                       WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man)
    string(REGEX REPLACE ".*\\." "" section ${page})
    install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND GZIPPED ${CMAKE_BINARY_DIR}/man/${page}.gz)
  endforeach()
  configure_file(${PKG}/changelog ${CMAKE_BINARY_DIR}/man/changelog COPYONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/changelog.gz
                     COMMAND gzip -9nf changelog -k
                     DEPENDS ${CMAKE_BINARY_DIR}/man/changelog
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  list(APPEND GZIPPED ${CMAKE_BINARY_DIR}/man/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  add_custom_target(plomvarde-docs ALL DEPENDS ${GZIPPED})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "plomvarde reads a time-and-attendance installation's database (embedded
SQLite, or Microsoft SQL Server through ODBC) and writes the download file
of a terminal: which badges it knows, with what validity, flags, access
classes and display figures. plomvarde-batch writes the files of a whole
site in one run, nightly through the systemd timer plomvarde-nightly;
plomvarde-show reads and compares download files, plomvarde-explain shows
what a run does with one badge, plomvarde-ini writes the configuration.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, libsqliteodbc, systemd")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "logrotate, sqlite3")
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
       "/etc/logrotate.d/plomvarde\n/etc/plomvarde/nightly.plan\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles ${PKG}/postinst
      ${PKG}/postrm)
endif()
include(CPack)
