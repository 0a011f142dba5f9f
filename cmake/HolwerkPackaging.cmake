# Install rules and packages. The native build installs its files where a
# Debian package keeps them; the Windows build puts the program and its text
# manual side by side in one folder, which is all its ZIP holds, and generates
# the WiX source of its MSI.
#
# scripts/release.sh makes the packages with SOURCE_DATE_EPOCH set to the last
# commit's time: it dates the changelog here and every archive member there.

# Installing never builds: scripts/release.sh builds just what is shipped.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# Fixed modes whatever the umask, so that packages do not depend on it.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(HOLWERK_PACKAGE_NAME holwerk)
set(HOLWERK_MAINTAINER "Tolvik Software <pakete@tolvik.example>")

set(CPACK_PACKAGE_NAME ${HOLWERK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Tolvik Software")
set(CPACK_PACKAGE_CONTACT "${HOLWERK_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.tolvik.example/holwerk/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "careful command-line downloader for HTTP and HTTPS")
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")

if(WIN32)
  install(TARGETS holwerk RUNTIME DESTINATION . COMPONENT Runtime)
  install(FILES "${HOLWERK_MANUAL}" DESTINATION . COMPONENT Runtime)
  install(FILES README.md doc/copyright DESTINATION doc COMPONENT Documents)

  set(CPACK_GENERATOR ZIP)
  # The windows preset links the program stripped and without a time stamp;
  # strip would stamp it again.
  set(CPACK_STRIP_FILES OFF)
  set(CPACK_PACKAGE_FILE_NAME "${HOLWERK_PACKAGE_NAME}-${PROJECT_VERSION}-win64")
  # The program and its manual, at the top: the documents stay out.
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Runtime;/")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

  # The MSI's WiX source, named as the MSI will be. scripts/release.sh builds
  # the MSI from it with the program the ZIP holds, signed when asked.
  set(HOLWERK_INSTALLER_NAME "${HOLWERK_PACKAGE_NAME}-${PROJECT_VERSION}-x64")
  set(HOLWERK_INSTALLER_VERSION "${PROJECT_VERSION}")
  set(HOLWERK_INSTALLER_SOURCE "${CMAKE_BINARY_DIR}/installer/${HOLWERK_INSTALLER_NAME}.wxs")
  include(cmake/HolwerkInstallerSource.cmake)
  # winget's manifests of the MSI; scripts/release.sh adds the MSI's SHA-256.
  foreach(manifest TolvikSoftware.Holwerk TolvikSoftware.Holwerk.installer
                   TolvikSoftware.Holwerk.locale.de-DE)
    configure_file(resources/winget/${manifest}.yaml.in
                   "${CMAKE_BINARY_DIR}/installer/winget/${manifest}.yaml" @ONLY)
  endforeach()
else()
  include(GNUInstallDirs)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${HOLWERK_PACKAGE_NAME})
  install(TARGETS holwerk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  # A stripped program loses the compilers' notes too, as Debian strips.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/holwerk\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT Runtime)
  install(FILES "${HOLWERK_MANUAL}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

  # A changelog in Debian's form, dated by the release, under the name of a
  # package its maker builds (a native package).
  string(TIMESTAMP HOLWERK_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(changelog "${CMAKE_BINARY_DIR}/doc/changelog")
  configure_file(doc/changelog.in "${changelog}" @ONLY)
  add_custom_command(
    OUTPUT "${changelog}.gz"
    COMMAND gzip -9n -c "${changelog}" > "${changelog}.gz"
    DEPENDS "${changelog}"
    COMMENT "Compressing the changelog")
  add_custom_target(holwerk_changelog ALL DEPENDS "${changelog}.gz")
  install(FILES "${changelog}.gz" README.md doc/copyright DESTINATION ${docdir}
          COMPONENT Documents)

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_FILE_NAME
      "${HOLWERK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR}")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION web)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION
      "Holwerk fetches one HTTP or HTTPS resource, byte for byte, into a local file,\n\
prints a short report or one error line (in German), and ends with an exit\n\
code a calling script can act on. The data goes into a temporary file first\n\
and replaces the target only when it is complete; redirects are followed by\n\
the program itself, and never from HTTPS to plain HTTP.")
endif()
include(CPack)

# What the packages hold, for scripts/release.sh to build alone.
add_custom_target(holwerk_shipped)
add_dependencies(holwerk_shipped holwerk holwerk_manual)
if(NOT WIN32)
  add_dependencies(holwerk_shipped holwerk_changelog)
endif()
