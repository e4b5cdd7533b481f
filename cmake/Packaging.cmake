# Installing and packaging: the three programs and their manual pages, under
# the usual GNU directories relative to the install prefix, and CPack packages
# (.tar.gz and .deb) versioned by the project version. The same version is
# what `patterntally --version`, `bitladder --version` and `varicode --version`
# print. The .deb is laid out as Debian packages are: gzipped manual pages, the
# licences in /usr/share/doc/patternladder/copyright, a changelog, stripped and
# hardened programs. patterntally-mpi, where MPI is found, is installed with
# them (component "mpi") and packaged apart, in patternladder-mpi, which alone
# depends on MPI.
# Libraries go where Debian's multiarch layout puts them, lib/<triplet>, in
# any prefix; a -DCMAKE_INSTALL_LIBDIR given at configure time wins.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CheckPIESupported)

set(PATTERNLADDER_MAINTAINER "patternladder maintainers <maintainers@patternladder.example.org>"
    CACHE STRING "Maintainer named in the .deb package and its changelog")
option(PATTERNLADDER_HARDENING
       "Harden the programs in Release and RelWithDebInfo builds as Debian builds its packages" ON)

# Hardening: fortified libc calls, stack protector, full RELRO with immediate
# binding, position-independent executables. Not with the sanitizers, whose
# checks the fortified libc calls would go past. -U first, for compilers that
# already define _FORTIFY_SOURCE.
if(PATTERNLADDER_HARDENING AND NOT PATTERNLADDER_SANITIZE AND NOT PATTERNLADDER_FUZZERS)
  set(PATTERNLADDER_HARDENED "$<CONFIG:Release,RelWithDebInfo>")
  check_pie_supported(LANGUAGES CXX)  # makes POSITION_INDEPENDENT_CODE link with -pie
  foreach(target IN ITEMS common patterntally_lib bitladder_lib varicode_lib varicode_codec
                          patterntally bitladder varicode)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_options(${target} PRIVATE
      "$<${PATTERNLADDER_HARDENED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3;-fstack-protector-strong>")
  endforeach()
  target_link_options(patterntally PRIVATE "$<${PATTERNLADDER_HARDENED}:LINKER:-z,relro,-z,now>")
  target_link_options(bitladder PRIVATE "$<${PATTERNLADDER_HARDENED}:LINKER:-z,relro,-z,now>")
  target_link_options(varicode PRIVATE "$<${PATTERNLADDER_HARDENED}:LINKER:-z,relro,-z,now>")
  target_compile_options(varicode_objects PRIVATE
    "$<${PATTERNLADDER_HARDENED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3;-fstack-protector-strong>")
  target_link_options(varicode_shared PRIVATE "$<${PATTERNLADDER_HARDENED}:LINKER:-z,relro,-z,now>")
  if(TARGET patterntally-mpi)
    set_target_properties(patterntally-mpi PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_options(patterntally-mpi PRIVATE
      "$<${PATTERNLADDER_HARDENED}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3;-fstack-protector-strong>")
    target_link_options(patterntally-mpi PRIVATE "$<${PATTERNLADDER_HARDENED}:LINKER:-z,relro,-z,now>")
  endif()
else()
  set(PATTERNLADDER_HARDENED 0)
endif()

# Manual pages and the changelog are installed gzipped with `gzip -9n`, which
# leaves no name or time stamp in the file, so the packages are reproducible.
find_program(PATTERNLADDER_GZIP gzip REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
set(gzipped_files)
foreach(source IN ITEMS ${PROJECT_SOURCE_DIR}/man/patterntally.1 ${PROJECT_SOURCE_DIR}/man/bitladder.1
                        ${PROJECT_SOURCE_DIR}/man/varicode.1 ${PROJECT_SOURCE_DIR}/man/patterntally-mpi.1
                        ${PROJECT_BINARY_DIR}/doc/changelog)
  get_filename_component(name ${source} NAME)
  set(gzipped ${PROJECT_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/gzipped/${name}
    COMMAND ${PATTERNLADDER_GZIP} -9nf ${PROJECT_BINARY_DIR}/gzipped/${name}
    DEPENDS ${source} VERBATIM)
  list(APPEND gzipped_files ${gzipped})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${gzipped_files})

foreach(program IN ITEMS patterntally bitladder varicode)
  target_compile_definitions(${program} PRIVATE PATTERNLADDER_VERSION="${PROJECT_VERSION}")
endforeach()
# Installs `program` and its manual page as part of `component`.
function(install_program program component)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  # A stripped install (`cmake --install --strip`, and the packages) also
  # drops the compiler's .comment section, as Debian's dh_strip does.
  if(CMAKE_STRIP)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT ${component})
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/gzipped/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endfunction()
foreach(program IN ITEMS patterntally bitladder varicode)
  install_program(${program} Unspecified)
endforeach()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Only in the .deb (see debian/cpack_options.cmake), never by `cmake --install`.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${PROJECT_NAME}
        COMPONENT deb EXCLUDE_FROM_ALL)

# libvaricode: the shared library in the package libvaricodeN (N its
# SONAME's number), the header, the static library, the unversioned link and
# varicode.pc in libvaricode-dev. varicode.pc finds the rest from where it
# lies, so that any install prefix works.
set(CPACK_PATTERNLADDER_SOVERSION ${PROJECT_VERSION_MAJOR})
set(CPACK_PATTERNLADDER_LIBRARY_CONTROL ${CMAKE_CURRENT_LIST_DIR}/debian/library)
install(TARGETS varicode_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        NAMELINK_COMPONENT dev)
install(TARGETS varicode_static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/varicode/include/varicode.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev)
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/varicode.pc.in ${PROJECT_BINARY_DIR}/varicode.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varicode.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
if(CMAKE_STRIP)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:varicode_shared>\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT library)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvaricode${CPACK_PATTERNLADDER_SOVERSION}
        COMPONENT library_deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/library/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME libvaricode${CPACK_PATTERNLADDER_SOVERSION} COMPONENT library_deb EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvaricode-dev COMPONENT dev_deb EXCLUDE_FROM_ALL)

# The cluster program: installed with the others, packaged in a .deb of its
# own with its own copy of the copyright and changelog. It depends on the
# libraries it links (dpkg-shlibdeps) and on the package of the launcher,
# mpirun, of the MPI it was built with (openmpi-bin for Open MPI).
if(TARGET patterntally-mpi)
  install_program(patterntally-mpi mpi)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/gzipped/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME}-mpi COMPONENT mpi_deb EXCLUDE_FROM_ALL)
  set(CPACK_PATTERNLADDER_MPI ON)
  set(CPACK_DEBIAN_MPI_PACKAGE_DEPENDS "")
  get_filename_component(launcher "${MPIEXEC_EXECUTABLE}" REALPATH)
  find_program(PATTERNLADDER_DPKG dpkg)
  if(PATTERNLADDER_DPKG AND EXISTS "${launcher}")
    execute_process(COMMAND ${PATTERNLADDER_DPKG} -S "${launcher}" OUTPUT_VARIABLE owner ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX REPLACE ":.*" "" owner "${owner}")
    if(owner MATCHES "^[a-z0-9][a-z0-9+.-]+$")
      set(CPACK_DEBIAN_MPI_PACKAGE_DEPENDS "${owner}")
    endif()
  endif()
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "patterntally counts the patterns (single characters and recurrent fragments)
of a list of websites and ranks them by frequency; bitladder gives the ranked
patterns variable-length binary codes, the shortest to the most frequent;
varicode encodes websites with these codes, each line decodable on its own,
decodes them back, and reports what a list costs in bits.")
set(CPACK_PACKAGE_CONTACT "${PATTERNLADDER_MAINTAINER}")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PATTERNLADDER_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
find_program(PATTERNLADDER_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PATTERNLADDER_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends: from the linked libraries
endif()
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/debian/cpack_options.cmake)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")
include(CPack)
