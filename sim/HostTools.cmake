# The host tools (sim/hosttools: ssh relay, pkgcrc32) as a sub-build with
# the host's compiler and none of this build's flags: in the ppc64 cross
# build the tests run under qemu, which can only start host programs, and in
# the sanitizer builds the relay runs as another user under sshd, where
# instrumentation would only add noise. SIM_HOST_TOOLS_DIR tells the
# simulated side where the programs are.
include(ExternalProject)
if(CMAKE_CROSSCOMPILING)
  find_program(PROXY_HOST_CXX NAMES c++ g++ clang++ REQUIRED)
else()
  set(PROXY_HOST_CXX ${CMAKE_CXX_COMPILER})
endif()
set(SIM_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/simhosttools)
set(sim_host_tools_args -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${PROXY_HOST_CXX})
if(CMAKE_CXX_COMPILER_LAUNCHER)
  # The launcher may be a command with arguments: "|" carries the list.
  string(REPLACE ";" "|" sim_host_tools_launcher "${CMAKE_CXX_COMPILER_LAUNCHER}")
  list(APPEND sim_host_tools_args -DCMAKE_CXX_COMPILER_LAUNCHER=${sim_host_tools_launcher})
endif()
ExternalProject_Add(sim_host_tools
  LIST_SEPARATOR |
  SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/hosttools
  BINARY_DIR ${SIM_HOST_TOOLS_DIR}
  CMAKE_ARGS ${sim_host_tools_args}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${SIM_HOST_TOOLS_DIR}/ssh_relay)
if(TARGET proxysim)
  add_dependencies(proxysim sim_host_tools)
  target_compile_definitions(proxysim PRIVATE SIM_HOST_TOOLS_DIR="${SIM_HOST_TOOLS_DIR}")
endif()
