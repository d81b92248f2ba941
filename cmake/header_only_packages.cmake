# CLI11 and nlohmann-json are header-only. A native build takes Debian's packages as they
# are. A cross build must not: their config files name the host's /usr/include, which would
# come ahead of the target compiler's own C library. There each is an interface target on a
# folder that holds its headers alone.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  return()
endif()

set(_header_dir ${PROJECT_BINARY_DIR}/header-only-packages)
file(MAKE_DIRECTORY ${_header_dir})
foreach(_package "CLI11::CLI11|CLI/CLI.hpp|CLI" "nlohmann_json::nlohmann_json|nlohmann/json.hpp|nlohmann")
  string(REPLACE "|" ";" _package "${_package}")
  list(GET _package 0 _target)
  list(GET _package 1 _header)
  list(GET _package 2 _folder)
  string(MAKE_C_IDENTIFIER "${_folder}_HOST_INCLUDE_DIR" _var)
  find_path(${_var} ${_header} PATHS /usr/include /usr/local/include NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${_var})
    message(FATAL_ERROR "${_header} not found: install the header-only package on the host")
  endif()
  file(CREATE_LINK ${${_var}}/${_folder} ${_header_dir}/${_folder} SYMBOLIC)
  add_library(${_target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${_target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_header_dir})
endforeach()
