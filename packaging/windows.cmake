# The Windows release: Quillex.exe beside README.md and LICENSE in one ZIP
# (`cpack -G ZIP` in the Windows build). The executable links its runtimes
# statically, so nothing else is shipped.
install(TARGETS Quillex RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quillex)
set(CPACK_PACKAGE_VENDOR bellmoth)
set(CPACK_PACKAGE_FILE_NAME Quillex-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
