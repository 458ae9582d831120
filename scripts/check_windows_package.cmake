# Makes the Windows release ZIP from a Windows build and fails unless it
# holds the program, README.md and LICENSE, in one top directory.
# Run as: cmake -DBUILD_DIR=<windows build> -DCPACK=<cpack> -P check_windows_package.cmake
execute_process(COMMAND ${CPACK} -G ZIP -C Debug WORKING_DIRECTORY ${BUILD_DIR} RESULT_VARIABLE made OUTPUT_QUIET)
file(GLOB zips ${BUILD_DIR}/Quillex-*-windows-x86_64.zip)
if(NOT made EQUAL 0 OR NOT zips)
  message(FATAL_ERROR "cpack -G ZIP made no package in ${BUILD_DIR}")
endif()
list(GET zips 0 zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(TRANSFORM entries REPLACE "^[^/]+/" "")
list(SORT entries)
if(NOT entries STREQUAL "LICENSE;Quillex.exe;README.md")
  message(FATAL_ERROR "${zip} holds ${entries}, not LICENSE, Quillex.exe and README.md")
endif()
message(STATUS "${zip}: Quillex.exe, README.md and LICENSE")
