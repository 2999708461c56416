# Writes the manual page from loxnar.1.in with the paths of an installation
# prefix; included with these set:
#   LOXNAR_MAN_PREFIX   the installation prefix (CMAKE_INSTALL_PREFIX)
#   LOXNAR_MAN_DATADIR  the data folder, absolute or under the prefix
#   LOXNAR_MAN_VERSION, LOXNAR_MAN_INPUT, LOXNAR_MAN_OUTPUT
cmake_path(ABSOLUTE_PATH LOXNAR_MAN_DATADIR BASE_DIRECTORY "${LOXNAR_MAN_PREFIX}" NORMALIZE
           OUTPUT_VARIABLE LOXNAR_DATADIR)
# roff: a hyphen in a path is a minus sign, so that the path can be copied.
string(REPLACE "-" "\\-" LOXNAR_DATADIR "${LOXNAR_DATADIR}")
set(LOXNAR_VERSION "${LOXNAR_MAN_VERSION}")
configure_file("${LOXNAR_MAN_INPUT}" "${LOXNAR_MAN_OUTPUT}" @ONLY)
