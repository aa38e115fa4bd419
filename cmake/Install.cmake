# What `cmake --install` puts where, and the Debian package made from it.
# The program's own data (default.wav, Kestrelle.html) lies beside the
# executable in the build tree and in share/kestrelle/ when installed; the
# platform layer looks in those two places, so the layout below is fixed:
# bin/ and share/ side by side under one prefix.
include(GNUInstallDirs)

set(KESTRELLE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KESTRELLE_STAGE_DIR ${PROJECT_BINARY_DIR}/packaging)
set(KESTRELLE_PROGRAM_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kestrelle)
set(KESTRELLE_FULL_PROGRAM_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR}/kestrelle)

# The desktop files, the icon and the AppStream component share one id in
# reverse-DNS form, taken from the maker's own domain so that it names the
# maker and no one else: http://www.kestrelle.example/ gives
# example.kestrelle.Kestrelle. "www." says nothing about the maker and is
# dropped; a hyphen becomes "_" and a part that starts with a digit gets a
# leading "_", as D-Bus names need, because desktops use the id as one.
set(KESTRELLE_APP_ID "" CACHE STRING
    "Reverse-DNS id of the desktop entry, icon and AppStream data (empty: from KESTRELLE_MAKER_URL)")
if(NOT KESTRELLE_MAKER_URL MATCHES "^[A-Za-z][A-Za-z0-9+.-]*://([^/?#]+)")
    message(FATAL_ERROR "KESTRELLE_MAKER_URL has no host name: ${KESTRELLE_MAKER_URL}")
endif()
string(TOLOWER "${CMAKE_MATCH_1}" _host)
string(REGEX REPLACE "^.*@" "" _host "${_host}")
string(REGEX REPLACE ":[0-9]*$" "" _host "${_host}")
string(REGEX REPLACE "^www\\." "" _host "${_host}")
string(REGEX REPLACE "\\.$" "" _host "${_host}")
set(KESTRELLE_ID "${KESTRELLE_APP_ID}")
if(KESTRELLE_ID STREQUAL "")
    string(REPLACE "-" "_" _parts "${_host}")
    string(REPLACE "." ";" _parts "${_parts}")
    list(LENGTH _parts _count)
    if(_count LESS 2)
        message(FATAL_ERROR "Cannot make a reverse-DNS id from the host '${_host}' of "
            "KESTRELLE_MAKER_URL: set KESTRELLE_APP_ID")
    endif()
    list(REVERSE _parts)
    set(KESTRELLE_ID "")
    foreach(_part IN LISTS _parts)
        if(_part MATCHES "^[0-9]")
            set(_part "_${_part}")
        endif()
        string(APPEND KESTRELLE_ID "${_part}.")
    endforeach()
    string(APPEND KESTRELLE_ID "Kestrelle")
endif()
message(STATUS "Desktop id: ${KESTRELLE_ID}")

# The maker's address ends in "/" wherever a path is put after it.
set(KESTRELLE_MAKER_BASE "${KESTRELLE_MAKER_URL}")
if(NOT KESTRELLE_MAKER_BASE MATCHES "/$")
    string(APPEND KESTRELLE_MAKER_BASE "/")
endif()
# Both below follow the maker's address unless set.
set(KESTRELLE_MAINTAINER "" CACHE STRING
    "Maintainer of the Debian package, as 'Name <address>' (empty: at the maker's domain)")
if(KESTRELLE_MAINTAINER STREQUAL "")
    set(KESTRELLE_MAINTAINER "Kestrelle maintainers <packages@${_host}>")
endif()
# AppStream wants a picture on the web, never a file in the package: the
# maker publishes the repository's docs/ folder under its own address.
set(KESTRELLE_SCREENSHOT_URL "" CACHE STRING
    "Web address of the main window's screenshot in the AppStream data (empty: under the maker's)")
if(KESTRELLE_SCREENSHOT_URL STREQUAL "")
    set(KESTRELLE_SCREENSHOT_URL "${KESTRELLE_MAKER_BASE}docs/main-window.png")
endif()
# The release's date as Debian and AppStream want it, fixed so that a
# rebuild makes the same files.
set(KESTRELLE_RELEASE_DATE "2026-12-09")
set(KESTRELLE_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 12:00:00 +0000")

function(kestrelle_xml_escape out text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
kestrelle_xml_escape(KESTRELLE_MAKER_XML "${KESTRELLE_MAKER_URL}")
kestrelle_xml_escape(KESTRELLE_SCREENSHOT_XML "${KESTRELLE_SCREENSHOT_URL}")

set(_built "")

# Manual pages and the package's changelog are installed compressed, as
# Debian's man and its documentation tools expect.
function(kestrelle_gzip_copy out template)
    get_filename_component(_name "${template}" NAME)
    string(REGEX REPLACE "\\.in$" "" _name "${_name}")
    configure_file(${template} ${KESTRELLE_STAGE_DIR}/${_name} @ONLY)
    add_custom_command(OUTPUT ${KESTRELLE_STAGE_DIR}/${_name}.gz
        COMMAND gzip -9 -n -f -k ${_name}
        WORKING_DIRECTORY ${KESTRELLE_STAGE_DIR}
        DEPENDS ${KESTRELLE_STAGE_DIR}/${_name}
        VERBATIM)
    set(${out} ${KESTRELLE_STAGE_DIR}/${_name}.gz PARENT_SCOPE)
endfunction()

# The checker.
install(TARGETS kestrelle-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kestrelle_gzip_copy(_man ${KESTRELLE_PACKAGING_DIR}/kestrelle-check.1.in)
list(APPEND _built ${_man})
install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The program's own files: the help page as written, the alert sound as the
# build makes it beside the program.
install(FILES ${PROJECT_SOURCE_DIR}/res/Kestrelle.html DESTINATION ${KESTRELLE_PROGRAM_DATA_DIR})
install(FILES $<TARGET_FILE_DIR:kestrelle-check>/default.wav
    DESTINATION ${KESTRELLE_PROGRAM_DATA_DIR})

# The desktop program and what makes it a desktop citizen.
if(TARGET kestrelle)
    install(TARGETS kestrelle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    kestrelle_gzip_copy(_man ${KESTRELLE_PACKAGING_DIR}/kestrelle.1.in)
    list(APPEND _built ${_man})
    install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    configure_file(${KESTRELLE_PACKAGING_DIR}/kestrelle.desktop.in
        ${KESTRELLE_STAGE_DIR}/${KESTRELLE_ID}.desktop @ONLY)
    install(FILES ${KESTRELLE_STAGE_DIR}/${KESTRELLE_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    configure_file(${KESTRELLE_PACKAGING_DIR}/kestrelle.metainfo.xml.in
        ${KESTRELLE_STAGE_DIR}/${KESTRELLE_ID}.metainfo.xml @ONLY)
    install(FILES ${KESTRELLE_STAGE_DIR}/${KESTRELLE_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    # Nothing starts at login unless the user copies this in (see README).
    configure_file(${KESTRELLE_PACKAGING_DIR}/kestrelle-autostart.desktop.in
        ${KESTRELLE_STAGE_DIR}/autostart/${KESTRELLE_ID}.desktop @ONLY)
    install(FILES ${KESTRELLE_STAGE_DIR}/autostart/${KESTRELLE_ID}.desktop
        DESTINATION ${KESTRELLE_PROGRAM_DATA_DIR}/autostart)

    # Icons for the theme, drawn from the program's own SVG at build time.
    set(KESTRELLE_ICON_SVG ${PROJECT_SOURCE_DIR}/res/icons/kestrelle.svg)
    if(NOT EXISTS ${KESTRELLE_ICON_SVG})
        message(WARNING "${KESTRELLE_ICON_SVG} is missing: the desktop entry names no icon that exists")
    else()
        find_program(KESTRELLE_RSVG_CONVERT rsvg-convert REQUIRED)
        set(_hicolor ${KESTRELLE_STAGE_DIR}/icons/hicolor)
        foreach(_size 16 22 24 32 48 64 128 256)
            set(_png ${_hicolor}/${_size}x${_size}/apps/${KESTRELLE_ID}.png)
            add_custom_command(OUTPUT ${_png}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${_hicolor}/${_size}x${_size}/apps
                COMMAND ${KESTRELLE_RSVG_CONVERT} -w ${_size} -h ${_size} -o ${_png}
                        ${KESTRELLE_ICON_SVG}
                DEPENDS ${KESTRELLE_ICON_SVG}
                VERBATIM)
            list(APPEND _built ${_png})
            install(FILES ${_png}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
        endforeach()
        install(FILES ${KESTRELLE_ICON_SVG}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME ${KESTRELLE_ID}.svg)
    endif()
endif()

# Debian's documentation folder: the copyright notice and the changelog.
set(KESTRELLE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrelle)
kestrelle_gzip_copy(_changelog ${KESTRELLE_PACKAGING_DIR}/changelog.in)
list(APPEND _built ${_changelog})
install(FILES ${_changelog} ${KESTRELLE_PACKAGING_DIR}/copyright
    DESTINATION ${KESTRELLE_DOC_DIR})

add_custom_target(kestrelle_install_files ALL DEPENDS ${_built})

# cpack -G DEB: kestrelle_<version>_<arch>.deb, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrelle)
set(CPACK_PACKAGE_VENDOR "Kestrelle")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${KESTRELLE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watchdog for web sites with tray and e-mail alerts")
set(CPACK_PACKAGE_DESCRIPTION
"Kestrelle keeps a list of web sites, each a page address and a piece of
text that the page holds while the site is healthy. Every few minutes it
downloads every page and looks for that text. A site whose text is missing
is reported with a tray balloon, one alert e-mail per outage through your
own SMTP server and, while the window is hidden, a sound and a flashing
tray icon.

The package also holds kestrelle-check, which checks the same list once
from the command line, for cron and monitoring systems.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${KESTRELLE_MAKER_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the SVG icon engine as a plugin, which no binary names as a
# library: without it every icon of the windows and the tray is blank.
if(TARGET kestrelle)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
endif()
# The buttons' captions are drawn in Liberation Sans, metric-compatible
# with the font the windows were laid out for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
include(CPack)
