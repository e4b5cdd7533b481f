# Read by cpack for each generator. The .deb alone is made of components:
# the package patternladder holds the programs ("Unspecified") and the
# lintian overrides ("deb"); patternladder-mpi, when patterntally-mpi was
# built, holds it ("mpi") and its copy of the copyright and changelog
# ("mpi_deb"). Each package has a summary of its own: the shared one is
# folded into the first's description.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENTS_ALL Unspecified deb)
  set(CPACK_COMPONENT_UNSPECIFIED_GROUP main)
  set(CPACK_COMPONENT_DEB_GROUP main)
  set(CPACK_DEBIAN_MAIN_PACKAGE_NAME "${CPACK_PACKAGE_NAME}")
  set(CPACK_DEBIAN_MAIN_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
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
