# make package: a Debian package with the three programs (the operator
# window printorb, the unattended server printorbd that the systemd unit
# runs, and printorb-tool), their manual pages and printserver.inf's, the
# service user, the logrotate rule, and the demo as the example home the
# installation copies when there is no home. packaging/ holds the files; docs/packaging.md says
# what the maintainer scripts do.
include(GNUInstallDirs)

set(PRINTORB_MAINTAINER "PrintORB maintainers <printorb@pathology-lab.example>")

# Debian wants the changelog and manual pages compressed, and byte for byte
# the same from one build to the next (gzip -n: no name, no time).
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
set(compressed "")
foreach(source changelog man/printorbd.8 man/printorb.1 man/printorb-tool.1 man/printserver.inf.5)
  get_filename_component(name ${source} NAME)
  set(out ${packaging_out}/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/${source} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source}
    VERBATIM)
  list(APPEND compressed ${out})
endforeach()
add_custom_target(printorb_packaging_files ALL DEPENDS ${compressed})
# logrotate's rule lives in /etc: the administrator's to change, so a conffile.
file(WRITE ${packaging_out}/conffiles "/etc/logrotate.d/printorb\n")

install(TARGETS printorb printorbd printorb-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Under /usr/lib, where 4.4.3 put it: moving it to /lib between versions
# would lose it on a merged-/usr system.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/printorb.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/printorb.sysusers DESTINATION lib/sysusers.d RENAME printorb.conf)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/printorb.logrotate DESTINATION /etc/logrotate.d RENAME printorb)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
              ${packaging_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaging_out}/printorbd.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${packaging_out}/printserver.inf.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES ${packaging_out}/printorb.1.gz ${packaging_out}/printorb-tool.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Not under /usr/share/doc, which minimal systems leave out.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/printorb/example-home
        PATTERN "sources" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME printorb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PRINTORB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PRINTORB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Print server for pathology laboratory result reports")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Takes report requests and PCL printer files from a spool folder, composes
the reports from RTF letterheads and templates and prints them through CUPS,
saves them as PDF or RTF, or delivers printer files by LPD, port 9100 or FTP.
Runs unattended as the systemd service printorb (printorbd); printorb is the
operator window.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins and fonts the programs load at run time, which shlibdeps cannot see.
# (shlibdeps adds qt6-base-abi itself: the PDF writer uses Qt's private text API.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-dejavu-core, fonts-liberation, fonts-wqy-zenhei, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, logrotate")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm ${CMAKE_SOURCE_DIR}/packaging/postrm
    ${packaging_out}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
