# make package: a Debian package with the three programs (the operator
# window printorb, the unattended server printorbd that the systemd unit
# runs, and printorb-tool), the service user and the demo as an example home.
include(GNUInstallDirs)

install(TARGETS printorb printorbd printorb-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/printorb.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/printorb.sysusers DESTINATION lib/sysusers.d RENAME printorb.conf)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/home
        PATTERN "sources" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME printorb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "PrintORB team <printorb@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Print server for pathology laboratory result reports")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Takes report requests and PCL printer files from a spool folder, composes\n the reports from RTF letterheads and templates and prints them through CUPS,\n saves them as PDF or RTF, or delivers printer files by LPD, port 9100 or FTP.\n Runs unattended as the systemd service printorb (printorbd); printorb is the\n operator window.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins and fonts the programs load at run time, which shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-dejavu-core, fonts-liberation, fonts-wqy-zenhei, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
