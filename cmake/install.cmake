# Installation: headers under include/quorrel/, the static and shared
# libraries, the quorrel program, the qmvjpeg module under lib/quorrel/, a
# CMake package (find_package(quorrel) -> quorrel::quorrel, the shared library,
# and quorrel::quorrel_static) and a pkg-config file (quorrel.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorrel CACHE STRING
  "Where the CMake package files are installed (relative to the prefix)")
set(QUORREL_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/quorrel CACHE STRING
  "Where the qmvjpeg module is installed (relative to the prefix)")

# Consumers include <quorrel/codec.h> and <quorrel/qmv_host.h>.
foreach(lib quorrel quorrel_shared)
  target_include_directories(${lib} PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
set_target_properties(quorrel_shared PROPERTIES EXPORT_NAME quorrel)
set_target_properties(quorrel PROPERTIES EXPORT_NAME quorrel_static)
# The library is C++ inside: a C program linking the static archive needs the
# C++ runtime and the math library.
target_link_libraries(quorrel INTERFACE $<INSTALL_INTERFACE:stdc++> $<INSTALL_INTERFACE:m>)

install(FILES ${PROJECT_SOURCE_DIR}/codec/codec.h ${PROJECT_SOURCE_DIR}/plugin/qmv_host.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorrel COMPONENT development)

install(TARGETS quorrel quorrel_shared EXPORT quorrelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

if(TARGET quorrel-cli)
  install(TARGETS quorrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(TARGET qmvjpeg)
  install(TARGETS qmvjpeg LIBRARY DESTINATION ${QUORREL_INSTALL_PLUGINDIR} COMPONENT runtime
    RUNTIME DESTINATION ${QUORREL_INSTALL_PLUGINDIR} COMPONENT runtime)
endif()

install(EXPORT quorrelTargets NAMESPACE quorrel:: FILE quorrelTargets.cmake
  DESTINATION ${QUORREL_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorrelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorrelConfig.cmake
  INSTALL_DESTINATION ${QUORREL_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR QUORREL_INSTALL_PLUGINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorrelConfig.cmake ${PROJECT_BINARY_DIR}/quorrelConfigVersion.cmake
  DESTINATION ${QUORREL_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config: the prefix is found from the file's own folder (${pcfiledir}),
# so the installed tree works wherever `cmake --install --prefix` put it.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUORREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(QUORREL_PC_PREFIX "\${pcfiledir}/..")
  string(REGEX MATCHALL "[^/]+" QUORREL_PC_LIBDIR_PARTS "${CMAKE_INSTALL_LIBDIR}")
  foreach(part IN LISTS QUORREL_PC_LIBDIR_PARTS)
    string(APPEND QUORREL_PC_PREFIX "/..")
  endforeach()
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUORREL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUORREL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorrel.pc.in ${PROJECT_BINARY_DIR}/quorrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorrel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The installed program finds the installed module relative to itself.
if(TARGET quorrel-cli)
  set(plugin_dir "${QUORREL_INSTALL_PLUGINDIR}")
  if(NOT IS_ABSOLUTE "${plugin_dir}")
    set(plugin_dir "${CMAKE_INSTALL_PREFIX}/${plugin_dir}")
  endif()
  file(RELATIVE_PATH QUORREL_PLUGIN_FROM_BIN "${CMAKE_INSTALL_FULL_BINDIR}" "${plugin_dir}")
  target_compile_definitions(quorrel-cli PRIVATE QRL_INSTALLED_PLUGIN_DIR="${QUORREL_PLUGIN_FROM_BIN}")
endif()
