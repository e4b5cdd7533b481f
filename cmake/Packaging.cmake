# Installing and packaging: both programs and their manual pages, under the
# usual GNU directories relative to the install prefix, and CPack packages
# (.tar.gz and .deb) versioned by the project version. The same version is
# what `patterntally --version` and `bitladder --version` print.
include(GNUInstallDirs)

foreach(program IN ITEMS patterntally bitladder)
  target_compile_definitions(${program} PRIVATE PATTERNLADDER_VERSION="${PROJECT_VERSION}")
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(PATTERNLADDER_MAINTAINER "patternladder maintainers <maintainers@patternladder.invalid>"
    CACHE STRING "Maintainer named in the .deb package")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "patterntally counts the patterns (single characters and recurrent fragments)
of a list of websites and ranks them by frequency; bitladder gives the ranked
patterns variable-length binary codes, the shortest to the most frequent.")
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
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")
include(CPack)
