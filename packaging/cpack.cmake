# The Debian package: `cpack -G DEB` in the build folder writes
# veltrane_VERSION_ARCH.deb from the install rules.
set(CPACK_PACKAGE_NAME "veltrane")
set(CPACK_PACKAGE_VENDOR "The Veltrane developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${VELTRANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${VELTRANE_SUMMARY}")
set(CPACK_PACKAGE_DESCRIPTION
"Veltrane explores a discrete-time network of two neurons with tanh
activation and bias, given by four weights and two biases. Its window
draws the basins of attraction of the state plane coloured by period,
the basins of the fixed points, the points that one step barely moves,
and orbits traced with the mouse; over a plane of two of the parameters
it draws the period of the attractor reached and how many kinds of
attractor coexist.

The package also holds veltrane-render, which draws the same pictures
without the window, at any size and on every core (and across the
ranks of an MPI job when built with MPI), with a record of the job and
the class of every pixel as a numpy array; and the largest Lyapunov
exponent of every orbit.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_PACKAGE_NAME "veltrane")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELTRANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veltrane.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside what dpkg-shlibdeps finds: the interpreter of the Python module.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VELTRANE_PACKAGE_DEPENDS}")
# The launcher of MPI jobs and the figures' plotting library.
list(JOIN VELTRANE_PACKAGE_RECOMMENDS ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
