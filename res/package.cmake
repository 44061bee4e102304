# The Debian package: manual pages, AppStream metadata, copyright and
# changelog, and the CPack settings that tools/package uses; on Windows, the
# installer and zip of res/windows/package.cmake instead. Included last from
# the top directory, so every program's target is known here.
#
# The version has one source, project() in the top CMakeLists.txt; the first
# entry of res/debian/changelog must carry the same one, and gives the date of
# the release.

if(APPLE OR NOT (UNIX OR WIN32))
    return()
endif()

set(NORVANE_CHANGELOG ${PROJECT_SOURCE_DIR}/res/debian/changelog)
file(STRINGS ${NORVANE_CHANGELOG} changelog_lines)
list(GET changelog_lines 0 changelog_head)
if(NOT changelog_head MATCHES "^norvane-setup \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "The project is version ${PROJECT_VERSION} but the first entry of "
                        "res/debian/changelog reads \"${changelog_head}\": add an entry for ${PROJECT_VERSION}.")
endif()
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
        list(FIND months ${CMAKE_MATCH_2} month)
        math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
        if(month LESS 10)
            set(month 0${month})
        endif()
        set(NORVANE_RELEASE_DATE ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1})
        break()
    endif()
endforeach()
if(NOT NORVANE_RELEASE_DATE)
    message(FATAL_ERROR "res/debian/changelog: the first entry has no trailer line with a date")
endif()

if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/windows/package.cmake)
    return()
endif()

set(doc_dir ${PROJECT_BINARY_DIR}/doc)
set(man_pages norvane-setup)
if(TARGET norvane)
    list(APPEND man_pages norvane)
    set(NORVANE_METAINFO_CLI "\n    <binary>norvane</binary>")
endif()
configure_file(res/com.norvane.Setup.metainfo.xml.in ${doc_dir}/com.norvane.Setup.metainfo.xml @ONLY)

# Debian wants manual pages and the changelog compressed with gzip -9n: no
# name or time stamp in the archive, so the package builds the same each time.
set(gzipped)
function(norvane_gzip src dest)
    add_custom_command(OUTPUT ${dest}
        COMMAND gzip -9n -c ${src} > ${dest}
        DEPENDS ${src})
    set(gzipped ${gzipped} ${dest} PARENT_SCOPE)
endfunction()

foreach(page IN LISTS man_pages)
    configure_file(res/${page}.1 ${doc_dir}/${page}.1 @ONLY)
    norvane_gzip(${doc_dir}/${page}.1 ${doc_dir}/${page}.1.gz)
    install(FILES ${doc_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
norvane_gzip(${NORVANE_CHANGELOG} ${doc_dir}/changelog.gz)
add_custom_target(norvane_docs ALL DEPENDS ${gzipped})

set(package_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/norvane-setup)
install(FILES ${doc_dir}/changelog.gz res/debian/copyright DESTINATION ${package_doc_dir})
install(FILES ${doc_dir}/com.norvane.Setup.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvane-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Norvane Setup developers <setup@norvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The login page opens in the default browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up Norvane network appliances on the local segment")
# CPack puts the summary first, as the synopsis line.
set(CPACK_PACKAGE_DESCRIPTION "Norvane Setup finds every Norvane appliance on the local network segment
by a UDP broadcast to port 8400 and lists each one by MAC address, IP
address and serial number. For the appliance picked it gives a new IP
address, whatever the current one, reboots it, or opens its web login
page in the default browser.
.
The package holds the desktop program norvane-setup and the command line
norvane, which also saves and loads the appliances' 8192-byte
configuration images, for scripts and for many appliances at once.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
