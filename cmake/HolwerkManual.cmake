# The manual page: one source, doc/holwerk.1.in, with the project's version.
# The native build installs it compressed as Debian does (gzip -9n: no name,
# no time stamp); the Windows build renders it to a plain text file.
set(HOLWERK_MANUAL_PAGE "${CMAKE_BINARY_DIR}/doc/holwerk.1")
configure_file(doc/holwerk.1.in "${HOLWERK_MANUAL_PAGE}" @ONLY)

if(WIN32)
  set(HOLWERK_MANUAL "${CMAKE_BINARY_DIR}/doc/holwerk.txt")
  add_custom_command(
    OUTPUT "${HOLWERK_MANUAL}"
    COMMAND "${CMAKE_SOURCE_DIR}/cmake/render-manual-text.sh" "${HOLWERK_MANUAL_PAGE}"
            "${HOLWERK_MANUAL}"
    DEPENDS "${HOLWERK_MANUAL_PAGE}" "${CMAKE_SOURCE_DIR}/cmake/render-manual-text.sh"
    COMMENT "Rendering the manual page as text")
else()
  set(HOLWERK_MANUAL "${CMAKE_BINARY_DIR}/doc/holwerk.1.gz")
  add_custom_command(
    OUTPUT "${HOLWERK_MANUAL}"
    COMMAND gzip -9n -c "${HOLWERK_MANUAL_PAGE}" > "${HOLWERK_MANUAL}"
    DEPENDS "${HOLWERK_MANUAL_PAGE}"
    COMMENT "Compressing the manual page")
endif()
add_custom_target(holwerk_manual ALL DEPENDS "${HOLWERK_MANUAL}")
