# The Debian package of the student PC (bash scripts/package.sh): the install
# tree under /opt/virelo-student, a desktop entry, the documents Debian asks
# for, and the dependencies read from the shared libraries the programs link.

# The resource folder the build draws belongs to the install tree too.
install(DIRECTORY ${VL_RES_DIR} DESTINATION bin)
# The rehearsal's driver: harmless where the administrator has not enabled
# the client's automation channel, which it needs.
if(TARGET vl-drive AND TARGET vl-automate)
    install(TARGETS vl-drive vl-automate RUNTIME DESTINATION bin)
endif()

set(VL_PACKAGE_NAME virelo-student)
set(VL_PACKAGE_PREFIX /opt/${VL_PACKAGE_NAME})
set(VL_PACKAGE_DOC /usr/share/doc/${VL_PACKAGE_NAME})

# Debian's documents: the copyright file and a compressed changelog without a
# time stamp, so that the same tree gives the same package.
set(VL_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package-files)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog ${VL_PACKAGE_STAGE}/changelog COPYONLY)
find_program(VL_GZIP gzip)
if(VL_GZIP)
    add_custom_command(OUTPUT ${VL_PACKAGE_STAGE}/changelog.gz
                       COMMAND ${VL_GZIP} -9nf -k ${VL_PACKAGE_STAGE}/changelog
                       DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
                       COMMENT "Compressing the package's changelog")
    add_custom_target(vl_package_files ALL DEPENDS ${VL_PACKAGE_STAGE}/changelog.gz)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${VL_PACKAGE_DOC} COMPONENT debian
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ EXCLUDE_FROM_ALL)
install(FILES ${VL_PACKAGE_STAGE}/changelog.gz DESTINATION ${VL_PACKAGE_DOC} COMPONENT debian
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/virelo-student.desktop DESTINATION /usr/share/applications
        COMPONENT debian PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ EXCLUDE_FROM_ALL)
# The exam login session: cage runs the client alone (packaging/virelo-exam-session).
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/virelo-exam-session DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/virelo-exam.desktop DESTINATION /usr/share/wayland-sessions
        COMPONENT debian PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION /usr/share/lintian/overrides
        RENAME ${VL_PACKAGE_NAME} COMPONENT debian PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${VL_PACKAGE_PREFIX})
set(CPACK_PACKAGE_VENDOR "Virelo")
set(CPACK_PACKAGE_CONTACT "Virelo student client team <student-client@virelo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "student client of the Virelo music and art assessment")
# The synopsis is the summary above; this is the long description under it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "VLStudent is the full-screen exam client a pupil takes a music and art\n"
       "paper in: sign-in, spoken prompts, one question at a time, answers kept\n"
       "on the PC until the platform accepted them, singing recorded and uploaded.\n"
       "VLGuard keeps it running, collects crash dumps and lets a page in the\n"
       "browser start a question on this PC. Installed under /opt/virelo-student.")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the shared libraries (dpkg-shlibdeps), and what no library names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# procps: the exam session looks for a restarted client with pgrep.
# libcurl 7.85 is the first with the protocol lists every transfer sets
# (CURLOPT_PROTOCOLS_STR); the libraries alone would allow an older one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, libcurl4 (>= 7.85.0), procps")
# The exam session's compositor; X programs under it need Xwayland. An
# ordinary desktop session does without both.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cage, xwayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The programs' tree and Debian's documents, not the build tools.
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
