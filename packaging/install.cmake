# Installation and Debian packaging. Included at the end of the top-level CMakeLists.txt, after every
# target exists. Layout of an installed system (prefix /usr in the package):
#   bin/tessor-configurator, bin/tessor-cli, bin/tessor-sim, bin/tessor-demo
#   lib/systemd/system/tessor-monitor@.service   unattended monitoring, one instance per device
#   lib/systemd/system/tessor-monitor-inventory.service   the same on the boards of an inventory
#   share/tessor-configurator/prometheus/tessor-alerts.yml   Prometheus alerting and recording rules
#   share/tessor-configurator/monitoring/web-config-*.yml    the monitor's --web.config.file examples
#   share/tessor-configurator/monitoring/tessor-dashboard.json   Grafana dashboard (import)
#   share/tessor-configurator/monitoring/alertmanager.yml       Alertmanager example for the alerts
#   share/tessor-configurator/fleet/inventory.yaml    an inventory of three sites for tessor-cli fleet, with
#                                            the criteria file it names
#   share/tessor-configurator/Help/          help pages; the desktop entry starts the tool in
#                                            share/tessor-configurator, so F1 finds Help/ there
#   share/applications/tessor-configurator.desktop
#   share/icons/hicolor/64x64/apps/tessor-configurator.png
#   share/man/man1/<program>.1.gz           a manual page for each program
#   share/doc/tessor-configurator/copyright the licence (MIT, the LICENSE file)
#   share/doc/tessor-configurator/changelog.gz   the package's changelog (packaging/changelog)
# Build the package with `cmake --build <dir> --target package` or `cpack` in the build directory.

include(GNUInstallDirs)

# The source root, found from this file so that the fragment does not depend on who includes it.
get_filename_component(TESSOR_PACKAGING_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

install(TARGETS tessor-cli tessor-sim tessor-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TESSOR_BUILD_UI)
    install(TARGETS tessor-configurator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The unit goes where Debian keeps the units of packages (/lib is /usr/lib on merged systems).
install(FILES "${TESSOR_PACKAGING_ROOT}/packaging/tessor-monitor@.service"
              "${TESSOR_PACKAGING_ROOT}/packaging/tessor-monitor-inventory.service"
        DESTINATION lib/systemd/system)
# Alerting and recording rules for the monitor's metrics, for prometheus.yml's rule_files.
install(FILES "${TESSOR_PACKAGING_ROOT}/packaging/prometheus/tessor-alerts.yml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessor-configurator/prometheus)

# Examples of the monitor's web configuration file (TLS, basic authentication, client certificates).
install(FILES "${TESSOR_PACKAGING_ROOT}/packaging/monitoring/web-config-tls.yml"
              "${TESSOR_PACKAGING_ROOT}/packaging/monitoring/web-config-basic-auth.yml"
              "${TESSOR_PACKAGING_ROOT}/packaging/monitoring/web-config-client-cert.yml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessor-configurator/monitoring)
# The Grafana dashboard of the monitor's metrics and an Alertmanager configuration for its alerts.
install(FILES "${TESSOR_PACKAGING_ROOT}/packaging/monitoring/tessor-dashboard.json"
              "${TESSOR_PACKAGING_ROOT}/packaging/monitoring/alertmanager.yml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessor-configurator/monitoring)
# An inventory of boards behind console servers for tessor-cli fleet, with the criteria file it names.
install(DIRECTORY "${TESSOR_PACKAGING_ROOT}/packaging/fleet/"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessor-configurator/fleet
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(DIRECTORY "${TESSOR_PACKAGING_ROOT}/Help/"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tessor-configurator/Help
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES "${TESSOR_PACKAGING_ROOT}/res/icon.png"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME tessor-configurator.png)

# The desktop entry names the installed program and data folder, so it is written when installing, from
# the prefix in use then (cmake --install --prefix ..., or /usr when the package is made).
set(TESSOR_DESKTOP_FILE "${CMAKE_BINARY_DIR}/packaging/tessor-configurator.desktop")
install(CODE "
    if(DEFINED ENV{DESTDIR} OR NOT DEFINED CPACK_PACKAGING_INSTALL_PREFIX)
        set(tessor_prefix \"\${CMAKE_INSTALL_PREFIX}\")
    else()
        set(tessor_prefix \"\${CPACK_PACKAGING_INSTALL_PREFIX}\")
    endif()
    set(TESSOR_DESKTOP_BINDIR \"\${tessor_prefix}/${CMAKE_INSTALL_BINDIR}\")
    set(TESSOR_DESKTOP_DATADIR \"\${tessor_prefix}/${CMAKE_INSTALL_DATADIR}/tessor-configurator\")
    configure_file(\"${TESSOR_PACKAGING_ROOT}/packaging/tessor-configurator.desktop.in\"
                   \"${TESSOR_DESKTOP_FILE}\" @ONLY)
")
install(FILES "${TESSOR_DESKTOP_FILE}" DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Manual pages, compressed as Debian keeps them.
find_program(TESSOR_GZIP gzip REQUIRED)
set(tessor_man_pages)
# Each page with the program it belongs to; tessor-cli-monitor is the page of tessor-cli's monitor command.
foreach(tessor_entry tessor-configurator:tessor-configurator tessor-sim:tessor-sim tessor-demo:tessor-demo
                     tessor-cli:tessor-cli tessor-cli-monitor:tessor-cli)
    string(REPLACE ":" ";" tessor_entry "${tessor_entry}")
    list(GET tessor_entry 0 tessor_name)
    list(GET tessor_entry 1 tessor_program)
    set(tessor_source "${TESSOR_PACKAGING_ROOT}/docs/man/${tessor_name}.1")
    if(TESSOR_BUILD_UI OR NOT tessor_program STREQUAL "tessor-configurator")
        set(tessor_page "${CMAKE_BINARY_DIR}/man/${tessor_name}.1.gz")
        add_custom_command(OUTPUT "${tessor_page}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
            COMMAND ${TESSOR_GZIP} -9 -n -c "${tessor_source}" > "${tessor_page}"
            DEPENDS "${tessor_source}"
            VERBATIM)
        list(APPEND tessor_man_pages "${tessor_page}")
    endif()
endforeach()
add_custom_target(tessor_man_pages ALL DEPENDS ${tessor_man_pages})
install(FILES ${tessor_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES "${TESSOR_PACKAGING_ROOT}/packaging/copyright"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessor-configurator)

# The package's changelog (a native package: changelog.gz), compressed as Debian keeps it. Its newest
# entry names the version being built.
set(tessor_changelog "${TESSOR_PACKAGING_ROOT}/packaging/changelog")
file(STRINGS "${tessor_changelog}" tessor_changelog_top LIMIT_COUNT 1)
if(NOT tessor_changelog_top MATCHES "^tessor-configurator \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "${tessor_changelog}: the newest entry is not version ${PROJECT_VERSION} "
                        "(\"${tessor_changelog_top}\"); add an entry for it at the top")
endif()
set(tessor_changelog_gz "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(OUTPUT "${tessor_changelog_gz}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packaging"
    COMMAND ${TESSOR_GZIP} -9 -n -c "${tessor_changelog}" > "${tessor_changelog_gz}"
    DEPENDS "${tessor_changelog}"
    VERBATIM)
add_custom_target(tessor_changelog ALL DEPENDS "${tessor_changelog_gz}")
install(FILES "${tessor_changelog_gz}" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessor-configurator)

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessor-configurator)
set(CPACK_PACKAGE_VENDOR "Calvadra")
set(CPACK_PACKAGE_CONTACT "Calvadra <support@calvadra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and monitoring tool for Ethernet-over-VDSL line modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessor Console Configurator sets up and watches a pair of Ethernet-over-VDSL
line modems (NT and LT) through the serial console of one of them: resets and
loopbacks, line presets, live SNR, error and Ethernet counters, a console
terminal with a log file, saving and loading register sets, factory defaults.
Includes tessor-cli, the same sequences from a shell or a script, with
tessor-cli monitor, which polls a board unattended and serves its health to
Prometheus (a systemd unit template runs it), tessor-sim, a simulated modem
pair on a pseudo-terminal, and the tessor-demo probe.")
if(NOT CPACK_PACKAGE_VERSION AND PROJECT_VERSION)
    set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME tessor-configurator)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tessor-configurator_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Calvadra <support@calvadra.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.calvadra.example")
# Opening the help pages goes through the desktop's default browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The monitor's metrics are meant for a Prometheus server, here or elsewhere, its alerts for Alertmanager.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus, prometheus-alertmanager")

find_program(TESSOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TESSOR_DPKG_SHLIBDEPS)
    # Library dependencies computed from the installed programs, and Qt's platform plugins, which the
    # programs load at run time and so do not link.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
else()
    # Without dpkg-dev: the Qt 6 libraries of Debian 12 by hand.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6 (>= 6.4.2), libqt6gui6 (>= 6.4.2), libqt6core6 (>= 6.4.2), \
qt6-qpa-plugins, libudev1, libmicrohttpd12, libtelnet2, libyaml-cpp0.7, libgnutls30, libcrypt1, libc6, libstdc++6, \
libgcc-s1")
endif()

include(CPack)
