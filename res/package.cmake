# The Debian packages: manual pages, AppStream metadata, copyright and
# changelog, the services' units and files, the Ansible collection, and the
# CPack settings that tools/package uses; on Windows, the installer and zip
# of res/windows/package.cmake instead. Included last from
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
# An entry may be a revision of the packaging alone, 1.2-1: the programs
# stay 1.2, the packages are 1.2-1.
if(NOT changelog_head MATCHES "^norvane-setup \\(([^)-]+)(-([0-9]+))?\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "The project is version ${PROJECT_VERSION} but the first entry of "
                        "res/debian/changelog reads \"${changelog_head}\": add an entry for ${PROJECT_VERSION}.")
endif()
set(NORVANE_PACKAGE_REVISION "${CMAKE_MATCH_3}")
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

# Three Debian packages from one build, each an install component: the
# command line alone with its services (cli: norvane), the window
# (window: norvane-setup) and the Ansible collection (ansible:
# norvane-ansible). A headless host installs norvane and gets no GUI
# library. Every install() of the Debian build names one of these: one that
# names none would land in no package, and is refused below.
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
set(norvane_packages window ansible)
set(package_window norvane-setup)
set(package_ansible norvane-ansible)
set(man_pages_window norvane-setup)
if(TARGET norvane)
    list(PREPEND norvane_packages cli)
    set(package_cli norvane)
    set(man_pages_cli norvane)
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

norvane_gzip(${NORVANE_CHANGELOG} ${doc_dir}/changelog.gz)
set(changelog_name changelog.gz)
if(NORVANE_PACKAGE_REVISION)
    set(changelog_name changelog.Debian.gz)
endif()
foreach(component IN LISTS norvane_packages)
    foreach(page IN LISTS man_pages_${component})
        configure_file(res/${page}.1 ${doc_dir}/${page}.1 @ONLY)
        norvane_gzip(${doc_dir}/${page}.1 ${doc_dir}/${page}.1.gz)
        install(FILES ${doc_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
    endforeach()
    # Each package has its own copyright and changelog (the one of the
    # source, norvane-setup, which all three are built from): changelog.gz,
    # or changelog.Debian.gz once the packages carry a revision of their own.
    install(FILES res/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_${component}} COMPONENT ${component})
    install(FILES ${doc_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_${component}}
            RENAME ${changelog_name} COMPONENT ${component})
endforeach()
add_custom_target(norvane_docs ALL DEPENDS ${gzipped})

install(FILES ${doc_dir}/com.norvane.Setup.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT window)

# The services of the command line (res/systemd): the unit templates where
# Debian 12 keeps a package's units, the documented example options files,
# the rotation of their reports, and the folder for the administrator's
# options, plans and passwords. The maintainer scripts do what debhelper's
# would for the units: systemd reloads them, and a purge removes what it
# made for the services.
if(TARGET norvane)
    install(FILES res/systemd/norvane-watch@.service res/systemd/norvane-provision@.service
            DESTINATION /lib/systemd/system COMPONENT cli)
    install(FILES res/systemd/watch.conf res/systemd/provision.conf
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvane/examples COMPONENT cli)
    install(FILES res/systemd/norvane.logrotate DESTINATION /etc/logrotate.d RENAME norvane COMPONENT cli)
    install(DIRECTORY DESTINATION /etc/norvane COMPONENT cli)
    set(cli_control ${PROJECT_BINARY_DIR}/debian/norvane)
    foreach(script postinst postrm)
        configure_file(res/debian/norvane.${script} ${cli_control}/${script} COPYONLY)
    endforeach()
    file(WRITE ${cli_control}/conffiles "/etc/logrotate.d/norvane\n")
    set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA "${cli_control}/conffiles;${cli_control}/postinst;${cli_control}/postrm")
endif()

# The collection, where ansible-galaxy would install it and Ansible looks
# by default: ansible-doc and playbooks find it with no galaxy step. As
# ansible-galaxy builds it (galaxy.yml's build_ignore), without its tests;
# its README and CHANGELOG go where Debian keeps a package's documents, its
# licence is the copyright file's.
set(collection_dir ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/norvane/setup)
install(DIRECTORY ansible/norvane/setup/ DESTINATION ${collection_dir} COMPONENT ansible
        PATTERN tests EXCLUDE PATTERN __pycache__ EXCLUDE PATTERN "*.pyc" EXCLUDE
        PATTERN README.md EXCLUDE PATTERN CHANGELOG.md EXCLUDE PATTERN LICENSE EXCLUDE)
install(FILES ansible/norvane/setup/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvane-ansible
        COMPONENT ansible)
# Beside a changelog.Debian.gz, the collection's own is the upstream one,
# changelog.gz.
if(NORVANE_PACKAGE_REVISION)
    norvane_gzip(${PROJECT_SOURCE_DIR}/ansible/norvane/setup/CHANGELOG.md ${doc_dir}/collection-changelog.gz)
    add_custom_target(norvane_collection_docs ALL DEPENDS ${doc_dir}/collection-changelog.gz)
    install(FILES ${doc_dir}/collection-changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvane-ansible
            RENAME changelog.gz COMPONENT ansible)
else()
    install(FILES ansible/norvane/setup/CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/norvane-ansible
            COMPONENT ansible)
endif()
install(FILES res/debian/norvane-ansible.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME norvane-ansible COMPONENT ansible)
file(STRINGS ansible/norvane/setup/galaxy.yml galaxy_version REGEX "^version: ")
if(NOT galaxy_version STREQUAL "version: ${PROJECT_VERSION}.0")
    message(FATAL_ERROR "The project is version ${PROJECT_VERSION} but ansible/norvane/setup/galaxy.yml "
                        "reads \"${galaxy_version}\": make it ${PROJECT_VERSION}.0.")
endif()

get_cmake_property(installed_components COMPONENTS)
list(REMOVE_ITEM installed_components sim ${norvane_packages})
if(installed_components)
    message(FATAL_ERROR "Files installed in no Debian package (components: ${installed_components}): "
                        "give their install() a COMPONENT of res/package.cmake")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${norvane_packages})
set(CPACK_PACKAGE_NAME norvane-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(NORVANE_PACKAGE_REVISION)
    set(CPACK_DEBIAN_PACKAGE_RELEASE ${NORVANE_PACKAGE_REVISION})
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE norvane-setup)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Norvane Setup developers <setup@norvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Each package's description is its own, the first line its synopsis.
set(CPACK_DEBIAN_CLI_PACKAGE_NAME norvane)
set(CPACK_DEBIAN_CLI_DESCRIPTION "command line to set up Norvane network appliances, and its services
norvane finds every Norvane appliance on the local network segment by a
UDP broadcast to port 8400 (and behind routers by a sweep of their
address ranges), gives an appliance a new IP address, reboots it, and
saves and loads its 8192-byte configuration image, for one appliance or
for many at once. Its output is made for scripts: tables, CSV or JSON.
.
It also runs as a service, one instance per segment or plan:
norvane-watch@ reports the appliances that appear, move, change or go,
and norvane-provision@ gives new appliances their planned addresses as
they appear. The units are hardened (a dynamic user, no capabilities, a
read-only system) and are not enabled on installation.
.
The package needs no graphical library; the window is in norvane-setup.")
# norvane-setup 1.2, one package, carried /usr/bin/norvane too: norvane
# takes it over, so that an upgrade splits them rather than failing. The
# programs are unchanged by the split, so the packages are a revision of
# 1.2 (1.2-1 comes after 1.2), not a new version.
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "norvane-setup (<< 1.2-1)")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "norvane-setup (<< 1.2-1)")
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME norvane-setup)
# The login page opens in the default browser through xdg-open.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "norvane, xdg-utils")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "set up Norvane network appliances on the local segment
Norvane Setup finds every Norvane appliance on the local network segment
by a UDP broadcast to port 8400 and lists each one by MAC address, IP
address and serial number. For the appliance picked it gives a new IP
address, whatever the current one, reboots it, or opens its web login
page in the default browser.
.
The package holds the desktop program norvane-setup. The command line
norvane, for scripts and for many appliances at once, is in the package
norvane.")
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_NAME norvane-ansible)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_ANSIBLE_PACKAGE_DEPENDS "ansible-core (>= 2.14) | ansible")
set(CPACK_DEBIAN_ANSIBLE_DESCRIPTION "Ansible collection to set up Norvane appliances at many sites
The collection norvane.setup drives the command line norvane on one
host per site from an Ansible controller: its modules discover, address,
back up and restore, provision and reboot Norvane network appliances,
report a change only when something changed, and support check mode and
diff.
.
Install it on the controller; the site hosts need the package norvane.
Ansible finds the collection where this package puts it, with no
ansible-galaxy step.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
