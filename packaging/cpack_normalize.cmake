# Run by cpack once it has written the packages: what its archive writers
# leave to the machine that runs them is set right with Debian's own tools.
foreach(package ${CPACK_PACKAGE_FILES})
  if(package MATCHES "\\.zip$")
    # Member order, extra fields (owners) and dates before 1980.
    execute_process(COMMAND strip-nondeterminism --type zip --timestamp $ENV{SOURCE_DATE_EPOCH} ${package}
                    COMMAND_ERROR_IS_FATAL ANY)
  elseif(package MATCHES "\\.deb$")
    # Installed-Size as dpkg-gencontrol counts it, not from the sizes this
    # file system gives folders: a file its size in KiB rounded up, anything
    # else 1, the top folder included. dpkg-deb takes the package apart and
    # puts it together again, in name order, owned by root.
    set(tree ${package}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${tree} ${tree}/*)
    set(kib 1)
    foreach(entry ${entries})
      if(entry MATCHES "^DEBIAN(/|$)")
        continue()
      elseif(IS_DIRECTORY ${tree}/${entry} OR IS_SYMLINK ${tree}/${entry})
        math(EXPR kib "${kib} + 1")
      else()
        file(SIZE ${tree}/${entry} size)
        math(EXPR kib "${kib} + (${size} + 1023) / 1024")
      endif()
    endforeach()
    file(READ ${tree}/DEBIAN/control control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
    file(WRITE ${tree}/DEBIAN/control "${control}")
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
  endif()
endforeach()
