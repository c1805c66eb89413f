# The application shell: tray item and menu, the permission poll, the single-instance handshake,
# and the symbols it draws. Included from this folder's CMakeLists.txt.

# Our monochrome symbols and the application icon, usable by any window of the application.
add_library(sombrix_icons STATIC
    ${CMAKE_CURRENT_LIST_DIR}/icons.h
    ${CMAKE_CURRENT_LIST_DIR}/icons.cpp
)
target_include_directories(sombrix_icons PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(sombrix_icons PUBLIC Qt6::Gui PRIVATE Qt6::Svg)
set_source_files_properties(${PROJECT_SOURCE_DIR}/data/icons/hicolor/scalable/apps/sombrix.svg
    PROPERTIES QT_RESOURCE_ALIAS sombrix.svg)
qt_add_resources(sombrix_icons sombrix_symbols
    PREFIX /icons
    BASE ${CMAKE_CURRENT_LIST_DIR}/icons
    FILES
        ${CMAKE_CURRENT_LIST_DIR}/icons/circle.svg
        ${CMAKE_CURRENT_LIST_DIR}/icons/circle.lefthalf.filled.svg
        ${CMAKE_CURRENT_LIST_DIR}/icons/exclamationmark.triangle.fill.svg
        ${CMAKE_CURRENT_LIST_DIR}/icons/checkmark.circle.fill.svg
        ${PROJECT_SOURCE_DIR}/data/icons/hicolor/scalable/apps/sombrix.svg
)

# The delegate and the pieces around it, without the composition of the platform services.
add_library(sombrix_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/status_menu.h
    ${CMAKE_CURRENT_LIST_DIR}/status_menu.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app_delegate.h
    ${CMAKE_CURRENT_LIST_DIR}/app_delegate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/display_guard.h
    ${CMAKE_CURRENT_LIST_DIR}/display_guard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/single_instance.h
    ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/instance_requests.h
    ${CMAKE_CURRENT_LIST_DIR}/instance_requests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/translations.h
    ${CMAKE_CURRENT_LIST_DIR}/translations.cpp
    ${CMAKE_CURRENT_LIST_DIR}/unix_signals.h
    ${CMAKE_CURRENT_LIST_DIR}/unix_signals.cpp
)
set_target_properties(sombrix_shell PROPERTIES AUTOMOC ON)
target_include_directories(sombrix_shell PUBLIC ${PROJECT_SOURCE_DIR}/src)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SOMBRIX_SHELL_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(sombrix_shell
    PUBLIC sombrix_engine sombrix_icons Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network
    PkgConfig::SOMBRIX_SHELL_XCB)

# What an installed Sombrix needs besides the program: its desktop entry and AppStream metadata
# (one id, so software centres match them), its icons (the application icon, and the tray symbols
# under themed names that panels recolour), the manual page, and the user documentation.
set(SOMBRIX_SCREENSHOTS_URL "" CACHE STRING
    "Web folder holding the pictures of docs/images, for the AppStream screenshots (https)")
set(SOMBRIX_MAN_DATE "December 2026")

# The screenshots list the pictures of docs/images; without a web folder to point at there are
# none, and a copy that names an example folder is made only for the validation test.
function(sombrix_metainfo output base_url)
    set(SOMBRIX_METAINFO_SCREENSHOTS "")
    if(base_url)
        string(CONCAT SOMBRIX_METAINFO_SCREENSHOTS
            "  <screenshots>\n"
            "    <screenshot type=\"default\">\n"
            "      <caption>A black veil at 70 %: the focused terminal stays bright</caption>\n"
            "      <image>${base_url}black.png</image>\n"
            "    </screenshot>\n"
            "    <screenshot>\n"
            "      <caption>The wallpaper look: only the focused window shows</caption>\n"
            "      <image>${base_url}wallpaper.png</image>\n"
            "    </screenshot>\n"
            "    <screenshot>\n"
            "      <caption>The settings window</caption>\n"
            "      <image>${base_url}settings.png</image>\n"
            "    </screenshot>\n"
            "  </screenshots>")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/data/${SOMBRIX_APP_ID}.metainfo.xml.in ${output} @ONLY)
endfunction()
sombrix_metainfo(${PROJECT_BINARY_DIR}/data/${SOMBRIX_APP_ID}.metainfo.xml
    "${SOMBRIX_SCREENSHOTS_URL}")
sombrix_metainfo(${PROJECT_BINARY_DIR}/data/check/${SOMBRIX_APP_ID}.metainfo.xml
    "https://example.org/sombrix/images/")
configure_file(${PROJECT_SOURCE_DIR}/data/sombrix.1.in ${PROJECT_BINARY_DIR}/data/sombrix.1 @ONLY)

install(FILES ${PROJECT_SOURCE_DIR}/data/${SOMBRIX_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_BINARY_DIR}/data/${SOMBRIX_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/icons/hicolor
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_BINARY_DIR}/data/sombrix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sombrix)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sombrix)
target_link_libraries(sombrix_shell PRIVATE sombrix_logging)
