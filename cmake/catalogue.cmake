# The Japanese catalogue: po/ja.po compiled by msgfmt. POSIX installs the
# compiled file where glibc's gettext reads it (and the build folder keeps
# one in the same place, share/locale, for the programs run from bin/);
# Windows compiles it into the programs. Included where vorcnt_lib is made.
find_program(VORCNT_MSGFMT msgfmt)
if(NOT VORCNT_MSGFMT)
  message(FATAL_ERROR "msgfmt not found: install gettext (scripts/deps.sh does)")
endif()
set(VORCNT_PO ${PROJECT_SOURCE_DIR}/po/ja.po)
set(VORCNT_MO ${CMAKE_BINARY_DIR}/share/locale/ja/LC_MESSAGES/vorcnt.mo)
# --check refuses a translation whose printf conversions differ from the
# English text's.
add_custom_command(OUTPUT ${VORCNT_MO}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/locale/ja/LC_MESSAGES
  COMMAND ${VORCNT_MSGFMT} --check --output-file=${VORCNT_MO} ${VORCNT_PO}
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
