# Packages (make package): a zip of the Windows programs, built from the
# cross build, and a .deb of the Linux programs. The version is the
# project version.
set(CPACK_PACKAGE_NAME plomvarde)
set(CPACK_PACKAGE_VENDOR plomvarde)
set(CPACK_PACKAGE_CONTACT "plomvarde maintainers <plomvarde@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Download files for time-and-attendance and access-control terminals")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # plomvarde-VERSION-windows-x64.zip: the programs, their collation module
  # (loaded by the SQLite ODBC driver), README and the SQL Server DDL side by
  # side in one folder.
  install(TARGETS ${PLOM_PROGRAMS} RUNTIME DESTINATION .)
  install(TARGETS plomvarde-collation LIBRARY DESTINATION . RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/sql/sqlserver.sql DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  install(TARGETS ${PLOM_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/sql/sqlserver.sql ${CMAKE_SOURCE_DIR}/sql/sqlite.sql
          DESTINATION ${CMAKE_INSTALL_DATADIR}/plomvarde)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0, libodbc2 | libodbc1")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, libsqliteodbc")
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
endif()
include(CPack)
