# Checks the layering of the tree's includes, and fails naming each line
# against it:
#  - the arrows run app/ -> port/ -> dialogs/ -> resources/ -> relay/ ->
#    filter/ -> settings/ only; relay/platform/ includes nothing above it;
#  - the plain port/ library (quillex_profile) includes nothing with Qt;
#  - no system header of POSIX or Windows above relay/platform/, but in the
#    system backends of the loop's readiness seam and of the name service
#    (relay/epoll_poller.cpp, poll_poller.cpp; wsapoll_poller.cpp and
#    windows_name_service.cpp).
# Run as: cmake -DSOURCE_DIR=<tree> -P check_includes.cmake
set(folders settings filter relay resources dialogs port app)
set(posix "^#include <(unistd|fcntl|poll|signal|netdb|pthread|pwd|grp|dirent|strings|termios|syslog|dlfcn|malloc|ifaddrs|spawn|sched|semaphore|glob|libgen|sys/[a-z_]+|netinet/[a-z_]+|arpa/[a-z_]+|net/[a-z_]+|linux/[a-z_]+)\\.h>")
set(windows "^#include <(winsock2|ws2tcpip|windows|mswsock|mstcpip|iphlpapi|io|direct|winsvc|shlobj)\\.h>")
set(failures "")

function(check file pattern why)
  file(STRINGS ${file} hits REGEX "${pattern}")
  file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
  foreach(line IN LISTS hits)
    string(APPEND failures "  ${name}: ${line}  (${why})\n")
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

foreach(folder IN LISTS folders)
  list(FIND folders ${folder} rank)
  file(GLOB files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*$" "\\1" target "${line}")
      list(FIND folders ${target} targetRank)
      if(targetRank GREATER rank)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
        string(APPEND failures "  ${name}: ${line}  (a folder above)\n")
      endif()
    endforeach()
    if(NOT file MATCHES "/relay/(epoll|poll)_poller\\.cpp$")
      check(${file} "${posix}" "POSIX above the platform layer")
    endif()
    if(NOT file MATCHES "/relay/(wsapoll_poller|windows_name_service)\\.cpp$")
      check(${file} "${windows}" "Windows above the platform layer")
    endif()
  endforeach()
endforeach()

file(GLOB platform ${SOURCE_DIR}/relay/platform/*)
foreach(file IN LISTS platform)
  check(${file} "^#include \"(settings|filter|resources|dialogs|port|app)/|^#include \"relay/[a-z_]+\\.h\"" "above the platform layer")
endforeach()

# The plain library's sources as port/CMakeLists.txt lists them, and their headers.
file(READ ${SOURCE_DIR}/port/CMakeLists.txt portLists)
string(REGEX MATCH "add_library\\(quillex_profile [^)]*\\)" plain "${portLists}")
string(REGEX MATCHALL "[a-z_]+\\.cpp" plainSources "${plain}")
foreach(source IN LISTS plainSources)
  string(REPLACE ".cpp" ".h" header ${source})
  foreach(file ${SOURCE_DIR}/port/${source} ${SOURCE_DIR}/port/${header})
    if(EXISTS ${file})
      check(${file} "^#include (<Q|\"(resources|dialogs|app)/)" "Qt in the plain port/ library")
    endif()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Includes against the layers:\n${failures}")
endif()
message(STATUS "Includes run one way; no POSIX or Windows header above relay/platform/")
