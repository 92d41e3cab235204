# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE): the
# tools the Debian generator needs must be there and run. Without
# dpkg-shlibdeps (dpkg-dev) cpack would still make a package, one with no
# Depends, after no more than a note; without file it fails late with an
# unclear message.

# Appends to `missing` what to install when `tool --version` does not run.
function(pulse_need_tool tool package why)
  find_program(found ${tool} NO_CACHE)
  set(version "")
  if(found)
    execute_process(COMMAND ${found} --version RESULT_VARIABLE status
      OUTPUT_VARIABLE version ERROR_QUIET)
  endif()
  if(NOT found OR NOT status EQUAL 0 OR version STREQUAL "")
    set(missing ${missing} "${tool} (apt-get install ${package}), ${why}" PARENT_SCOPE)
  endif()
endfunction()

if(CPACK_GENERATOR STREQUAL "DEB")
  set(missing)
  if(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS)
    pulse_need_tool(dpkg-shlibdeps dpkg-dev "which finds the packages' Depends")
  endif()
  pulse_need_tool(file file "which tells the programs from the other files")
  if(missing)
    list(JOIN missing "; " missing)
    message(FATAL_ERROR "cannot make the Debian packages without ${missing}")
  endif()
endif()
