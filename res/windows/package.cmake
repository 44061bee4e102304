# The Windows installer and zip (tools/windows --package): the two programs
# with the Qt DLLs and plugins they load and mingw-w64's run-time DLLs, all in
# one folder, the manual pages as text and the licences. Included from
# res/package.cmake, which has checked the version and found the release date.
#
# The DLLs are named one by one: exactly those the programs and the two
# plugins import (objdump -p), which tools/windows-check compares with what
# the installed window loads under wine.

set(package_dir ${PROJECT_BINARY_DIR}/windows-package)
set(windows_qt_modules Core Gui Network Widgets)
foreach(module IN LISTS windows_qt_modules)
    install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# Debian ships them with their debugging symbols, ten times their size.
set(runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    add_custom_command(OUTPUT ${package_dir}/runtime/${dll}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${package_dir}/runtime
        COMMAND ${CMAKE_STRIP} --strip-debug -o ${package_dir}/runtime/${dll} ${dll_path}
        DEPENDS ${dll_path} VERBATIM)
    list(APPEND runtime_dlls ${package_dir}/runtime/${dll})
endforeach()
add_custom_target(norvane_windows_runtime ALL DEPENDS ${runtime_dlls})
install(FILES ${runtime_dlls} DESTINATION .)

# Text for Notepad: CR LF line ends, no formatting codes. Written when
# configuring, as the installer's licence page needs LICENSE.txt then.
function(norvane_windows_text text dest)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${dest}.new "${text}")
    configure_file(${dest}.new ${dest} COPYONLY)
endfunction()
function(norvane_windows_text_file src dest)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
    file(READ ${src} text)
    norvane_windows_text("${text}" ${dest})
endfunction()

set(windows_texts)
foreach(page norvane-setup norvane)
    configure_file(${PROJECT_SOURCE_DIR}/res/${page}.1 ${package_dir}/${page}.1 @ONLY)
    add_custom_command(OUTPUT ${package_dir}/${page}.txt
        COMMAND sh -c "groff -t -man -Tascii -P-cbou \"$1\" | sed 's/$/\\r/' >\"$2\"" -
                ${package_dir}/${page}.1 ${package_dir}/${page}.txt
        DEPENDS ${package_dir}/${page}.1 VERBATIM)
    list(APPEND windows_texts ${package_dir}/${page}.txt)
endforeach()

# The project's own licence, from the Debian copyright file.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/debian/copyright)
file(READ ${PROJECT_SOURCE_DIR}/res/debian/copyright copyright)
if(NOT copyright MATCHES "\nCopyright: ([^\n]*)\nLicense: [^\n]*\n(.*)")
    message(FATAL_ERROR "res/debian/copyright: no Copyright and License fields")
endif()
set(copyright_holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "(^|\n) " "\\1" licence "${CMAKE_MATCH_2}")
norvane_windows_text("Norvane Setup ${PROJECT_VERSION}\nCopyright ${copyright_holder}\n\n${licence}
The parts of other makers bundled with it, and their licences, are listed
in THIRD-PARTY.txt.\n" ${package_dir}/LICENSE.txt)
norvane_windows_text_file(${CMAKE_CURRENT_LIST_DIR}/third-party.txt ${package_dir}/THIRD-PARTY.txt)
list(APPEND windows_texts ${package_dir}/LICENSE.txt ${package_dir}/THIRD-PARTY.txt)
# Qt's licence, and the GPL it builds on, as Debian ships them.
foreach(name LGPL-3 GPL-3)
    set(common /usr/share/common-licenses/${name})
    if(NOT EXISTS ${common})
        message(FATAL_ERROR "${common} (Debian's base-files) is missing: the Windows package bundles it")
    endif()
    norvane_windows_text_file(${common} ${package_dir}/${name}.txt)
    list(APPEND windows_texts ${package_dir}/${name}.txt)
endforeach()
add_custom_target(norvane_windows_texts ALL DEPENDS ${windows_texts})
install(FILES ${windows_texts} DESTINATION .)

set(CPACK_GENERATOR NSIS ZIP)
# One installer with both programs: the install components the Debian
# packages are split by (res/package.cmake) make no choice here.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_PACKAGE_NAME norvane-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
string(REGEX REPLACE "^[0-9]+ " "" CPACK_PACKAGE_VENDOR "${copyright_holder}")
set(CPACK_PACKAGE_FILE_NAME norvane-setup-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Norvane Setup")
# Without the version: a newer installer finds and replaces the older one.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Norvane Setup")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up Norvane network appliances on the local segment")
set(CPACK_RESOURCE_FILE_LICENSE ${package_dir}/LICENSE.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

set(CPACK_NSIS_PACKAGE_NAME "Norvane Setup")
set(CPACK_NSIS_DISPLAY_NAME "Norvane Setup")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_PACKAGE_EXECUTABLES norvane-setup "Norvane Setup")
set(CPACK_NSIS_INSTALLED_ICON_NAME norvane-setup.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/icons/norvane.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/res/icons/norvane.ico)
# A 64-bit installer for 64-bit programs: the registry and system folder it
# sees are theirs, and wine64 alone runs it.
set(CPACK_NSIS_DEFINES "Target amd64-unicode
Caption \"Norvane Setup ${PROJECT_VERSION}\"
!define NORVANE_REGISTRY_KEY \"${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
!include \"${CMAKE_CURRENT_LIST_DIR}/installer.nsh\"")
# The PATH is a section of installer.nsh, chosen on the components page.
# CPack's own PATH option (CPACK_NSIS_MODIFY_PATH) is left off: where the
# PATH is longer than NSIS's strings it can write back our folder alone.
set(CPACK_NSIS_PAGE_COMPONENTS "!insertmacro MUI_PAGE_COMPONENTS")
set(CPACK_NSIS_INSTALLER_MUI_COMPONENTS_DESC "!insertmacro NORVANE_COMPONENT_DESCRIPTIONS")
set(CPACK_NSIS_WELCOME_TITLE "Welcome to the installation of Norvane Setup ${PROJECT_VERSION}")
set(CPACK_NSIS_FINISH_TITLE "Norvane Setup ${PROJECT_VERSION} is installed")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "!insertmacro NORVANE_INSTALL")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro NORVANE_UNINSTALL")
include(CPack)
