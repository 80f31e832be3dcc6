# Run by CPack once the packages are built: puts the debug symbols package
# right. CPack lists its files in md5sums under the path it built them in,
# leaves the .debug files executable like the programs they were split from,
# and gives the package no documentation folder. The package is unpacked, its
# .debug files made 0644 (nothing runs them), its md5sums written again with
# the paths it installs, its documentation folder made a link to vorcnt's
# (which it depends on, at the same version, as Debian's own symbol packages
# do), and packed again.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot unpack ${package}")
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/usr/*)
  list(SORT files)
  set(sums "")
  foreach(f IN LISTS files)
    if(f MATCHES "\\.debug$")
      file(CHMOD ${tree}/${f} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    file(MD5 ${tree}/${f} sum)
    string(APPEND sums "${sum}  ${f}\n")
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${sums}")
  file(MAKE_DIRECTORY ${tree}/usr/share/doc)
  file(CREATE_LINK vorcnt ${tree}/usr/share/doc/vorcnt-dbgsym SYMBOLIC)
  file(REMOVE ${package})
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package} OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot pack ${package} again")
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
