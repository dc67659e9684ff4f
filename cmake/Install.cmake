# Installation (cmake --install, make install PREFIX=..., the Debian package): both programs,
# the menu entry with its icon and metadata, the manual pages, and the sounds and example list
# the program falls back to when they are not beside it.
include(GNUInstallDirs)
set(TIVANE_STAGE_DIR ${CMAKE_BINARY_DIR}/share)

install(TARGETS tivane tivane-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/Notify.wav ${CMAKE_BINARY_DIR}/bin/Info.wav
              ${CMAKE_BINARY_DIR}/bin/HostDown.wav ${CMAKE_BINARY_DIR}/bin/HostUp.wav
              ${PROJECT_SOURCE_DIR}/resources/list.example.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tivane)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/tivane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TIVANE_STAGE_DIR}/metainfo/org.tivane.Tivane.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/app/window.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME tivane.svg)
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    install(FILES ${TIVANE_STAGE_DIR}/icons/${size}x${size}/apps/tivane.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
foreach(size IN ITEMS 16 22 24 32 48)
    install(FILES ${TIVANE_STAGE_DIR}/icons/${size}x${size}/status/tivane-idle.png
                  ${TIVANE_STAGE_DIR}/icons/${size}x${size}/status/tivane-up.png
                  ${TIVANE_STAGE_DIR}/icons/${size}x${size}/status/tivane-down.png
                  ${TIVANE_STAGE_DIR}/icons/${size}x${size}/status/tivane-degraded.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/status)
endforeach()
install(FILES ${TIVANE_STAGE_DIR}/gz/tivane.1.gz ${TIVANE_STAGE_DIR}/gz/tivane-probe.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/copyright ${TIVANE_STAGE_DIR}/gz/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tivane)

# tivane-monitor, its manual page and its services: a system unit (disabled until enabled; its
# list in /etc/tivane) and a user unit for each user's own list.
install(TARGETS tivane-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TIVANE_STAGE_DIR}/gz/tivane-monitor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/headless/systemd/tivane-monitor.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/headless/systemd/tivane-monitor-user.service DESTINATION lib/systemd/user
        RENAME tivane-monitor.service)
