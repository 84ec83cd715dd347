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
# systemd looks in <prefix>/lib whatever the architecture's library folder is. The unit names
# the agent by its installed path, so it is written at install time, when the prefix is
# known (cmake --install --prefix, or /usr inside the package).
install(CODE "
  file(READ \"${packaging_dir}/tessivo-agent.service.in\" unit)
  string(REPLACE \"@CMAKE_INSTALL_FULL_SBINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\" unit \"\${unit}\")
  string(REPLACE \"@CMAKE_INSTALL_FULL_DOCDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\" unit \"\${unit}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/tessivo-agent.service\" \"\${unit}\")
")
install(FILES ${packaging_dir}/tessivo.sysusers DESTINATION lib/sysusers.d RENAME tessivo.conf)
install(FILES ${packaging_dir}/tessivo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/tessivo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivo)
set(CPACK_PACKAGE_VENDOR "Tessivo")
set(CPACK_PACKAGE_CONTACT "Tessivo developers <tessivo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Per-process disk I/O monitor with a privileged sampler for Prometheus")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/debian/postinst ${packaging_dir}/debian/prerm
    ${packaging_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
