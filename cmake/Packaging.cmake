# Debian packages, made with CPack, one per install component:
#   pulseregen     the two programs, their manual pages and documents
#                  (component "programs")
#   libcwave-dev   the CWave library for other programs: header, static
#                  library, CMake and pkg-config files, cwave(3) ("dev")
#   cpack --preset default   -> build/packages/<package>_<version>_<host arch>.deb
#   cpack --preset aarch64   -> build/packages/<package>_<version>_arm64.deb
# They are made from the static build of the presets: a shared build's
# library (component "runtime") belongs to no package.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs dev)
set(CPACK_PACKAGE_NAME pulseregen)
set(CPACK_PACKAGE_VENDOR "pulseregen maintainers")
set(CPACK_PACKAGE_CONTACT "pulseregen maintainers <pulseregen@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's Description: its summary line, then the long text.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME pulseregen)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
    "regenerate pulse recordings as square waves; log the CPU temperature
Two small command-line tools for Linux on 64-bit ARM boards.
pulseregen reads a 16-bit PCM WAV recording, finds the span in which it is
loud and writes a 44.1 kHz 16-bit mono WAV file holding, for that span only,
a clean square wave regenerated from the recording's swings, followed by one
block of linear fade-out.
thermlog appends one line with the local time and the temperature of a
thermal zone to a log file; a systemd timer and service that run it every
minute (disabled until enabled), a logrotate file for its log and
thermlog-plot, which draws the log with gnuplot, are included.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcwave-dev)
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "C++ library to read and write 16-bit PCM WAV files (development files)
CWave reads RIFF/WAVE files block by block into 16-bit integers or floats,
one channel or two (interleaved or planar, with a choice of channel mix),
and writes 16-bit or 8-bit WAV files. It never allocates, prints or throws.
This package holds the header <cwave/Wave.h>, the static library, the files
that find_package(CWave) and pkg-config read, and the manual page cwave(3).")
set(CPACK_STRIP_FILES ON)

# Files under /etc belong to the administrator: dpkg keeps their edits.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/contrib/debian/conffiles)
# thermlog-plot draws with gnuplot; logrotate reads /etc/logrotate.d/thermlog.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SUGGESTS "gnuplot-nox | gnuplot, logrotate")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# The Architecture field: a cross toolchain names the target's Debian
# architecture; a native build takes the host's from dpkg.
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  find_program(PULSE_DPKG dpkg)
  if(PULSE_DPKG)
    execute_process(COMMAND ${PULSE_DPKG} --print-architecture
      OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
      OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()

# dpkg-shlibdeps finds the library versions for a native build. For a cross
# build it cannot: the target's libraries come from Debian's *-cross packages,
# which dpkg does not know as libc6 and libstdc++6. There the dependencies are
# stated: the same that dpkg-shlibdeps derives on amd64 from the same code.
# The CI's package step works them out again from the symbols the arm64
# binaries use and fails when this line falls behind.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
else()
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
endif()
# The static library needs nothing at run time, and to link only what the
# C++ compiler brings.
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "")

# cpack stops, naming the package to install, when a tool it needs is
# missing (cmake/PackagingChecks.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackagingChecks.cmake)

include(CPack)
