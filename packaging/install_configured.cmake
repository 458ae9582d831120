# Run while installing: writes each file of QUILLEX_CONFIGURED (entries
# "template|directory|name") with @QUILLEX_BINARY@ replaced by the installed
# program's full path, and records it like any installed file.
if(IS_ABSOLUTE "${QUILLEX_BINDIR}")
  set(QUILLEX_BINARY "${QUILLEX_BINDIR}/quillex")
else()
  set(QUILLEX_BINARY "${CMAKE_INSTALL_PREFIX}/${QUILLEX_BINDIR}/quillex")
endif()

foreach(entry IN LISTS QUILLEX_CONFIGURED)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 template)
  list(GET entry 1 directory)
  list(GET entry 2 name)
  if(NOT IS_ABSOLUTE "${directory}")
    set(directory "${CMAKE_INSTALL_PREFIX}/${directory}")
  endif()
  message(STATUS "Installing: $ENV{DESTDIR}${directory}/${name}")
  configure_file("${template}" "$ENV{DESTDIR}${directory}/${name}" @ONLY NO_SOURCE_PERMISSIONS)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${directory}/${name}")
endforeach()
