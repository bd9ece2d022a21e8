# What `cmake --install` and the Debian package put where. The program looks
# for its help pages in <bin>/../share/sonavel/help when they are not beside it
# (src/platform/qt/HelpLocation.cpp), so the folders below are fixed rather
# than taken from GNUInstallDirs.

set(SONAVEL_APP_ID org.sonavel.Sonavel)

install(TARGETS sonavel RUNTIME DESTINATION bin)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/help/
  DESTINATION share/sonavel/help
  FILES_MATCHING PATTERN "*.htm" PATTERN "*.css" PATTERN "*.png")

install(FILES ${CMAKE_SOURCE_DIR}/resources/${SONAVEL_APP_ID}.desktop
  DESTINATION share/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${SONAVEL_APP_ID}.metainfo.xml
  DESTINATION share/metainfo)

# SVG and every PNG size, drawn by scripts/draw-artwork.py.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor/
  DESTINATION share/icons/hicolor)

# `cpack -G DEB` in the build folder (or scripts/make-deb.sh) makes the Debian
# package from the rules above, its dependencies found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME sonavel)
set(CPACK_PACKAGE_VENDOR "The Sonavel developers")
set(CPACK_PACKAGE_CONTACT "The Sonavel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ear trainer for musical intervals heard inside a key")
set(CPACK_PACKAGE_DESCRIPTION
  "Sonavel sets a key, plays a key reference and then two notes of the scale,
one after the other or together. You name both notes and the interval
between them, and Sonavel keeps your score. It plays through its built-in
synthesizer with a General MIDI SoundFont, or through any MIDI port.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SoundFont that the built-in synthesizer looks for first
# (/usr/share/sounds/sf2/default-GM.sf2 and FluidR3_GM.sf2).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fluid-soundfont-gm)
include(CPack)
