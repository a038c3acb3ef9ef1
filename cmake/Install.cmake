# Install rules and the Debian package.
include(GNUInstallDirs)

set(KESTROVE_APP_ID org.kestrove.Kestrove)

# Man pages, compressed as Debian installs them.
set(man_pages kestrove-names.1)
if(KESTROVE_BUILD_APP)
  list(APPEND man_pages kestrove.1)
endif()
find_program(GZIP gzip)
foreach(page ${man_pages})
  set(source ${PROJECT_SOURCE_DIR}/resources/man/${page})
  if(GZIP)
    set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${GZIP} -9nc ${source} > ${out}
      DEPENDS ${source} VERBATIM)
    list(APPEND man_outputs ${out})
  else()
    list(APPEND man_outputs ${source})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(KESTROVE_BUILD_APP)
  install(FILES resources/kestrove.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES resources/kestrove.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          RENAME ${KESTROVE_APP_ID}.metainfo.xml)
  foreach(size 16 32 48 256)
    install(FILES resources/kestrove-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME kestrove.png)
  endforeach()
  install(FILES resources/kestrove.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrove)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrove RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrove)
set(CPACK_PACKAGE_VENDOR "The Kestrove developers")
set(CPACK_PACKAGE_CONTACT "The Kestrove developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list the names a Windows PE/COFF module exports")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrove lists every name in the export name table of a Windows PE/COFF\n"
    "module (DLL, EXE, OCX, BPL and the like), in table order, beside its position\n"
    "in the table. It maps the file read-only and never loads or runs any of it.\n"
    "The package holds the Qt 6 desktop program kestrove and the command-line\n"
    "tool kestrove-names.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(KESTROVE_BUILD_APP)
  # The window needs a platform plugin, which no library links to.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_STRIP_FILES ON)

include(CPack)
