# The Japanese catalogue: po/ja.po compiled by msgfmt, in code page 932
# like every console text, so that no conversion runs (or stays resident)
# when a line is printed. POSIX installs the
# compiled file where glibc's gettext reads it (and the build folder keeps
# one in the same place, share/locale, for the programs run from bin/);
# Windows compiles it into the programs. Included where vorcnt_lib is made.
find_program(VORCNT_MSGFMT msgfmt)
find_program(VORCNT_MSGCONV msgconv)
if(NOT VORCNT_MSGFMT OR NOT VORCNT_MSGCONV)
  message(FATAL_ERROR "msgfmt not found: install gettext (scripts/deps.sh does)")
endif()
set(VORCNT_PO ${PROJECT_SOURCE_DIR}/po/ja.po)
set(VORCNT_MO ${CMAKE_BINARY_DIR}/share/locale/ja/LC_MESSAGES/vorcnt.mo)
# msgconv refuses a character code page 932 lacks; --check refuses a
# translation whose printf conversions differ from the English text's.
set(VORCNT_PO_CP932 ${CMAKE_BINARY_DIR}/po/ja.cp932.po)
add_custom_command(OUTPUT ${VORCNT_MO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/locale/ja/LC_MESSAGES ${CMAKE_BINARY_DIR}/po
  COMMAND ${VORCNT_MSGCONV} --to-code=CP932 --output-file=${VORCNT_PO_CP932} ${VORCNT_PO}
  COMMAND ${VORCNT_MSGFMT} --check --output-file=${VORCNT_MO} ${VORCNT_PO_CP932}
  DEPENDS ${VORCNT_PO}
  COMMENT "Compiling the Japanese catalogue")
add_custom_target(vorcnt_catalogue ALL DEPENDS ${VORCNT_MO})
if(VORCNT_PLATFORM STREQUAL "windows")
  set(VORCNT_EMBEDDED_CATALOGUE ${CMAKE_BINARY_DIR}/po/japanese_catalogue.cpp)
  add_custom_command(OUTPUT ${VORCNT_EMBEDDED_CATALOGUE}
    COMMAND ${CMAKE_COMMAND} -DMO=${VORCNT_MO} -DOUT=${VORCNT_EMBEDDED_CATALOGUE}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed_catalogue.cmake
    DEPENDS ${VORCNT_MO} ${PROJECT_SOURCE_DIR}/cmake/embed_catalogue.cmake)
else()
  include(GNUInstallDirs)
  install(FILES ${VORCNT_MO} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/ja/LC_MESSAGES)
endif()
