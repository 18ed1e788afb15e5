# Fails when a POSIX-only header or call appears in the program's own sources, so that they
# keep building on Windows. Allowed only in the simulated controller's pseudo-terminal transport
# (built where pseudo-terminals exist, with vaduz-sim in front of it) and in the Unix side of
# platform/. Tests and benchmarks are not part of the program.
#   cmake -DSOURCE_DIR=<project root> -P posixheaders.cmake
cmake_minimum_required(VERSION 3.16)
set(allowed
    sim/ptysimulator.cpp
    sim/main.cpp
    platform/platform_unix.cpp)
set(posix_pattern
    "#[ \t]*include[ \t]*<(unistd|fcntl|termios|pty|util|libutil|poll|pthread|signal|csignal|dirent|dlfcn|grp|pwd|sched|semaphore|spawn|syslog|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+)(\\.h)?>|sigaction|socketpair")

file(GLOB top_dirs LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(found "")
foreach(dir ${top_dirs})
    if(dir STREQUAL "tests" OR dir STREQUAL "bench" OR NOT EXISTS ${SOURCE_DIR}/${dir}/CMakeLists.txt)
        continue()
    endif()
    file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
        ${SOURCE_DIR}/${dir}/*.cpp ${SOURCE_DIR}/${dir}/*.h ${SOURCE_DIR}/${dir}/*.c)
    foreach(src ${sources})
        if(src IN_LIST allowed)
            continue()
        endif()
        file(STRINGS ${SOURCE_DIR}/${src} hits REGEX "${posix_pattern}")
        foreach(hit ${hits})
            string(APPEND found "  ${src}: ${hit}\n")
        endforeach()
    endforeach()
endforeach()
if(found)
    message(FATAL_ERROR "POSIX-only headers or calls outside the pty transport and platform/:\n${found}"
        "Put the call behind platform/platform.h (with a Windows implementation) instead.")
endif()
message(STATUS "No POSIX-only header or call in the program's own sources")
