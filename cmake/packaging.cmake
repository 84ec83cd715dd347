# Installs the Linux programs and makes two Debian packages of them from the one build
# (cpack -G DEB): `tessivo`, the desktop program with its desktop entry, icon and manual
# page, and `tessivo-agent`, the sampler with its systemd unit, sysusers entry and manual
# page, which needs no Qt. Each install() names the package's component: `desktop` or
# `agent`.
include(GNUInstallDirs)

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(TESSIVO_DEBIAN_REVISION 1)
set(deb_version ${PROJECT_VERSION}-${TESSIVO_DEBIAN_REVISION})

# The changelog's newest entry names the version being packaged.
file(STRINGS ${packaging_dir}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^tessivo \\(${deb_version}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not version ${deb_version}: ${changelog_top}")
endif()

# Manual pages and the changelog go in gzipped (-n: no name or time stamp inside, so the
# same sources give the same package).
set(gzipped)
foreach(source tessivo.1 tessivo-agent.8 debian/changelog)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${packaging_dir}/${source} > ${out}
    DEPENDS ${packaging_dir}/${source} VERBATIM)
  list(APPEND gzipped ${out})
endforeach()
add_custom_target(tessivo_package_docs ALL DEPENDS ${gzipped})
set(gz_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# What both packages carry in /usr/share/doc/<package>.
foreach(component desktop agent)
  if(component STREQUAL desktop)
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/tessivo)
  else()
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/tessivo-agent)
  endif()
  install(FILES ${packaging_dir}/debian/copyright ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${doc} COMPONENT ${component})
  install(FILES ${gz_dir}/changelog.gz DESTINATION ${doc} RENAME changelog.Debian.gz COMPONENT ${component})
endforeach()

# The desktop program.
if(TARGET tessivo)
  install(TARGETS tessivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
endif()
install(FILES ${packaging_dir}/tessivo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
install(FILES ${packaging_dir}/tessivo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT desktop)
install(FILES ${gz_dir}/tessivo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)

# The agent. systemd looks in <prefix>/lib whatever the architecture's library folder is.
# The unit names the agent by its installed path, so it is written at install time, when
# the prefix is known (cmake --install --prefix, or /usr inside the package).
if(TARGET tessivo-agent)
  install(TARGETS tessivo-agent RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT agent)
endif()
install(CODE "
  file(READ \"${packaging_dir}/tessivo-agent.service.in\" unit)
  string(REPLACE \"@CMAKE_INSTALL_FULL_SBINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\" unit \"\${unit}\")
  string(REPLACE \"@AGENT_DOCDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/tessivo-agent\" unit \"\${unit}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system/tessivo-agent.service\" \"\${unit}\")
" COMPONENT agent)
install(FILES ${packaging_dir}/tessivo.sysusers DESTINATION lib/sysusers.d RENAME tessivo.conf COMPONENT agent)
install(FILES ${gz_dir}/tessivo-agent.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT agent)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop agent)
set(CPACK_PACKAGE_NAME tessivo)
set(CPACK_PACKAGE_VENDOR "Tessivo")
# The project's own address, the one its history is written under.
set(CPACK_PACKAGE_CONTACT "Tessivo maintainers <maintainers@users.noreply.c-seed-2b776f5d.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TESSIVO_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE tessivo)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tessivo)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
# Without the agent the program still runs, seeing other users' processes without counts.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS tessivo-agent)
# What the shared-library scan cannot see: the chart's fonts, measured to fit its label boxes,
# and Qt's SVG support for the program's icon.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "fonts-crosextra-carlito, fonts-noto-cjk, libqt6svg6")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "per-process disk I/O monitor
Tessivo shows, per application or per process, the bytes and operations read
and written since monitoring began and the smoothed read and write speed, in a
sortable list, under a chart of the total speed: the last 80 seconds live and
per-minute averages kept for days.

This package holds the desktop program (Qt 6). As a normal user it sees other
users' I/O counters through tessivo-agent when that runs and the user is in the
group tessivo, and reads /proc itself otherwise.")

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME tessivo-agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_SECTION admin)
# The maintainer scripts make the agent's user with adduser where systemd-sysusers is missing.
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_AGENT_DESCRIPTION "per-process disk I/O sampler for Tessivo and Prometheus
tessivo-agent reads every process's I/O counters from /proc with only the two
capabilities this takes (CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE, not root) and
hands its snapshots to members of the group tessivo over a Unix socket, so that
the desktop program run by a normal user sees every process.

It can also serve per-application read and write counters in the Prometheus
text format. It needs no Qt, so a server that only feeds Prometheus can have
it alone. The package holds its systemd unit and creates its user and group.")
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA ${packaging_dir}/debian/postinst ${packaging_dir}/debian/prerm
    ${packaging_dir}/debian/postrm)
include(CPack)
