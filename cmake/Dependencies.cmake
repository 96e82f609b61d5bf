# System libraries, all from Debian packages (see scripts/install-deps).
find_package(Threads REQUIRED)

find_path(CUPS_INCLUDE_DIR cups/cups.h REQUIRED)
find_library(CUPS_LIBRARY cups REQUIRED)
find_library(CUPSIMAGE_LIBRARY cupsimage REQUIRED)

# Highway: portable SIMD with run-time dispatch (the band coder's kernels).
find_package(PkgConfig REQUIRED)
pkg_check_modules(HWY REQUIRED IMPORTED_TARGET libhwy)

add_library(qz_cups INTERFACE)
target_include_directories(qz_cups SYSTEM INTERFACE ${CUPS_INCLUDE_DIR})
target_link_libraries(qz_cups INTERFACE ${CUPSIMAGE_LIBRARY} ${CUPS_LIBRARY})

# Where the spooler looks for filters; cups-config knows, /usr/lib/cups otherwise.
execute_process(COMMAND cups-config --serverbin OUTPUT_VARIABLE _qz_serverbin
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT _qz_serverbin)
  set(_qz_serverbin /usr/lib/cups)
endif()
set(QZ_CUPS_SERVERBIN ${_qz_serverbin} CACHE PATH "CUPS server binary folder")
execute_process(COMMAND cups-config --datadir OUTPUT_VARIABLE _qz_datadir
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT _qz_datadir)
  set(_qz_datadir /usr/share/cups)
endif()
set(QZ_CUPS_DATADIR ${_qz_datadir} CACHE PATH "CUPS data folder")

# The installed tools (quenzel-inspect) and the tests.
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
# Tests and benchmarks only; an install build (-DBUILD_TESTING=OFF) needs neither.
if(BUILD_TESTING)
  find_package(GTest)
  if(NOT GTest_FOUND)
    message(FATAL_ERROR "GoogleTest not found: install libgtest-dev and libgmock-dev "
                        "(scripts/install-deps), or configure with -DBUILD_TESTING=OFF "
                        "to build only what is installed")
  endif()
endif()
if(QZ_BUILD_BENCH)
  find_package(benchmark)
  if(NOT benchmark_FOUND)
    message(STATUS "Google Benchmark not found: the benchmarks are not built")
    set(QZ_BUILD_BENCH OFF)
  endif()
endif()
