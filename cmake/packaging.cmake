# Installs the Linux program, the agent, the agent's systemd unit and sysusers entry, the
# desktop entry and the icon, and makes a Debian package of them (cpack -G DEB).
include(GNUInstallDirs)

if(TARGET tessivo)
  install(TARGETS tessivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tessivo-agent)
  install(TARGETS tessivo-agent RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
# systemd looks in <prefix>/lib whatever the architecture's library folder is.
set(TESSIVO_SYSTEMD_UNIT_DIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system CACHE PATH "Where the agent's unit goes")
set(TESSIVO_SYSUSERS_DIR ${CMAKE_INSTALL_PREFIX}/lib/sysusers.d CACHE PATH "Where the sysusers entry goes")

configure_file(${packaging_dir}/tessivo-agent.service.in ${PROJECT_BINARY_DIR}/tessivo-agent.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tessivo-agent.service DESTINATION ${TESSIVO_SYSTEMD_UNIT_DIR})
install(FILES ${packaging_dir}/tessivo.sysusers DESTINATION ${TESSIVO_SYSUSERS_DIR} RENAME tessivo.conf)
install(FILES ${packaging_dir}/tessivo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/tessivo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivo)
set(CPACK_PACKAGE_VENDOR "Tessivo")
set(CPACK_PACKAGE_CONTACT "Tessivo developers <tessivo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Per-process disk I/O monitor with a privileged sampler for Prometheus")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/debian/postinst ${packaging_dir}/debian/prerm
    ${packaging_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
