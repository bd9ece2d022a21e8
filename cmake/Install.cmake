# What `cmake --install` puts where. The program looks for its help pages in
# <bin>/../share/sonavel/help (src/platform/qt/HelpLocation.cpp), so the
# folders below are fixed rather than taken from GNUInstallDirs.

install(TARGETS sonavel RUNTIME DESTINATION bin)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/help/
  DESTINATION share/sonavel/help
  FILES_MATCHING PATTERN "*.htm" PATTERN "*.css" PATTERN "*.png")

install(FILES ${CMAKE_SOURCE_DIR}/resources/sonavel.desktop
  DESTINATION share/applications)

install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/sonavel.png
  DESTINATION share/icons/hicolor/128x128/apps)
