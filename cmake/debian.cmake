# The Debian package of the headless front end (CPack's DEB generator), made by
# scripts/package-deb:   cpack -G DEB  ->  zelvik_<version>_amd64.deb
# Debian's paths under CMAKE_INSTALL_PREFIX=/usr, the units and the settings at their absolute
# ones. The window program is not packaged: it writes beside itself, which /usr/bin is not for.
set(deb ${CMAKE_SOURCE_DIR}/packaging/debian)
set(ZELVIK_MAINTAINER "Zelvik developers <zelvik@example.org>")

# The manual page, made from the README's reference of zelvik-cli so that the two agree.
set(man_page ${CMAKE_BINARY_DIR}/man/zelvik-cli.1)
add_custom_command(OUTPUT ${man_page}.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND awk -v version=${PROJECT_VERSION} -v out=${man_page} -f ${deb}/readme-to-man.awk
          ${CMAKE_SOURCE_DIR}/README.md
  COMMAND gzip -9nf ${man_page}
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${deb}/readme-to-man.awk
  COMMENT "Manual page zelvik-cli(1) from README.md" VERBATIM)
set(changelog ${CMAKE_BINARY_DIR}/doc/changelog)
configure_file(${deb}/changelog.in ${changelog} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -9nkf ${changelog}
  DEPENDS ${changelog} VERBATIM)
add_custom_target(zelvik_debian_docs ALL DEPENDS ${man_page}.gz ${changelog}.gz)

install(TARGETS zelvik-cli RUNTIME DESTINATION bin)
# The compilers' version notes are of no use in the package (CPack's strip keeps them).
install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/zelvik-cli\" COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${man_page}.gz DESTINATION share/man/man1)
install(FILES ${deb}/copyright ${changelog}.gz DESTINATION share/doc/zelvik)
install(FILES ${deb}/odbc.ini ${deb}/odbcinst.ini DESTINATION share/doc/zelvik/examples)
install(FILES ${deb}/lintian-overrides DESTINATION share/lintian/overrides RENAME zelvik)
install(FILES ${deb}/zelvik.service ${deb}/zelvik-verify.service ${deb}/zelvik-verify.timer
        DESTINATION /lib/systemd/system)
# It holds the password.
install(FILES ${deb}/zelvik.env DESTINATION /etc/zelvik PERMISSIONS OWNER_READ OWNER_WRITE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELVIK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "daily exports of a taxi-dispatch location history")
set(CPACK_PACKAGE_DESCRIPTION
    "zelvik-cli reads the location history of a taxi-dispatch operator's vehicles
through ODBC and writes, for each day, an export of every position and a
per-vehicle occupancy summary, Korean text in code page 949. The package runs
it as a service (zelvik.service) that exports the previous day every morning,
with a timer (zelvik-verify.timer) that checks the day each morning after.")
# The shared libraries' packages, as dpkg-shlibdeps finds them; adduser for postinst; tzdata,
# without which TZ=Asia/Seoul silently falls back to UTC.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, tzdata")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql, unixodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb}/conffiles ${deb}/postinst ${deb}/prerm ${deb}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
