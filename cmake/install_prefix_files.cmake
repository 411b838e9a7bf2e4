# Install-time rules that depend on the prefix given to cmake --install
# (--prefix P, or /usr when CPack builds the Debian package), run from
# cmake_install.cmake with these variables set by CMakeLists.txt:
#   MVTS_BINARY_DIR, MVTS_PC_TEMPLATE, CMAKE_INSTALL_LIBDIR,
#   CMAKE_INSTALL_INCLUDEDIR, PROJECT_VERSION
#   MVTS_PYTHON_VERSION    major.minor of the interpreter the extension is
#                          built for, empty when it is not built

# The pkg-config file, with the prefix written out (made in a directory of
# its own per prefix, so that installs to two prefixes at once do not mix).
set(MVTS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
string(MD5 key "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
configure_file("${MVTS_PC_TEMPLATE}" "${MVTS_BINARY_DIR}/install/${key}/mvts.pc" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" TYPE FILE
     FILES "${MVTS_BINARY_DIR}/install/${key}/mvts.pc")

# MVTS_PYTHON_SITE, relative to the prefix: the site directory that Debian's
# interpreter reads for it, lib/python3/dist-packages for /usr and
# lib/python3.X/dist-packages for any other prefix (/usr/local among them).
string(REGEX REPLACE "/+$" "" prefix "${CMAKE_INSTALL_PREFIX}")
if(prefix STREQUAL "/usr")
  set(MVTS_PYTHON_SITE "lib/python3/dist-packages")
else()
  set(MVTS_PYTHON_SITE "lib/python${MVTS_PYTHON_VERSION}/dist-packages")
endif()
