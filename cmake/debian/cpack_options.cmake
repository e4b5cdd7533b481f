# Read by cpack for each generator. The .deb alone is made of components:
# the package patternladder holds the programs ("Unspecified") and the
# lintian overrides ("deb"); patternladder-mpi, when patterntally-mpi was
# built, holds it ("mpi") and its copy of the copyright and changelog
# ("mpi_deb"). libvaricodeN holds the shared library ("library") and
# libvaricode-dev the rest of libvaricode ("dev"), each with its copyright and
# changelog ("library_deb", "dev_deb"). Each package has a summary of its
# own: the shared one is folded into the first's description.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENTS_ALL Unspecified deb)
  set(CPACK_COMPONENT_UNSPECIFIED_GROUP main)
  set(CPACK_COMPONENT_DEB_GROUP main)
  set(CPACK_DEBIAN_MAIN_PACKAGE_NAME "${CPACK_PACKAGE_NAME}")
  set(CPACK_DEBIAN_MAIN_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  list(APPEND CPACK_COMPONENTS_ALL library library_deb dev dev_deb)
  set(CPACK_COMPONENT_LIBRARY_GROUP library)
  set(CPACK_COMPONENT_LIBRARY_DEB_GROUP library)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME "libvaricode${CPACK_PATTERNLADDER_SOVERSION}")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  # A shlibs file for the packages that link it; the library cache is
  # updated by a trigger, so the maintainer scripts CPack would write to
  # call ldconfig are replaced by ones that do nothing.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA "${CPACK_PATTERNLADDER_LIBRARY_CONTROL}/triggers"
      "${CPACK_PATTERNLADDER_LIBRARY_CONTROL}/postinst" "${CPACK_PATTERNLADDER_LIBRARY_CONTROL}/postrm")
  set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "Library that codes websites with variable-length binary codes
libvaricode encodes a website into the code words of a code map that
bitladder made, as text or packed bits, and decodes it back, as the varicode
program does. One opened code map serves many threads.")
  set(CPACK_COMPONENT_DEV_GROUP dev)
  set(CPACK_COMPONENT_DEV_DEB_GROUP dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libvaricode-dev")
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
      "libvaricode${CPACK_PATTERNLADDER_SOVERSION} (= ${CPACK_PACKAGE_VERSION})")
  set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_DEV_DESCRIPTION "Development files of libvaricode
The C header varicode.h, the static library, and varicode.pc, with which
\"pkg-config --cflags --libs varicode\" gives what a program that embeds
libvaricode is compiled and linked with.")
  if(CPACK_PATTERNLADDER_MPI)
    list(APPEND CPACK_COMPONENTS_ALL mpi mpi_deb)
    set(CPACK_COMPONENT_MPI_GROUP mpi)
    set(CPACK_COMPONENT_MPI_DEB_GROUP mpi)
    set(CPACK_DEBIAN_MPI_PACKAGE_NAME "${CPACK_PACKAGE_NAME}-mpi")
    set(CPACK_DEBIAN_MPI_PACKAGE_RECOMMENDS "${CPACK_PACKAGE_NAME} (= ${CPACK_PACKAGE_VERSION})")
    set(CPACK_DEBIAN_MPI_DESCRIPTION "Pattern counts of website lists on the ranks of an MPI job
patterntally-mpi is patterntally spread over the ranks of an MPI job
(mpirun, or srun under Slurm): each rank counts chunks of the list of
websites, and rank 0 writes the messages and both reports, the same bytes as
patterntally in the same directory. bitladder, in patternladder, then gives
the ranked patterns their codes.")
  endif()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
endif()
