# Install-time step, made for the prefix in force when installing. Variables come from
# resources/CMakeLists.txt; FWU_INSTALL_STEP says which component is being installed:
#   updater    the launcher link in bin/ and the udev rule;
#   simulator  the simulator's launcher script in bin/.
function(fwu_full_path result folder)
  if(IS_ABSOLUTE "${folder}")
    set(${result} "${folder}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${folder}" PARENT_SCOPE)
  endif()
endfunction()

fwu_full_path(program_dir "${FWU_INSTALL_PROGRAM_DIR}")
fwu_full_path(bin_dir "${FWU_INSTALL_BINDIR}")
set(launcher "${bin_dir}/${FWU_LAUNCHER_NAME}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${bin_dir}")

if(FWU_INSTALL_STEP STREQUAL "updater")
  # A relative link keeps the installed tree movable. The program finds its vendor library
  # through its own resolved path, so starting it through the link works.
  file(RELATIVE_PATH link_target "${bin_dir}" "${program_dir}/FWUpdater")
  message(STATUS "Installing: $ENV{DESTDIR}${launcher} -> ${link_target}")
  file(CREATE_LINK "${link_target}" "$ENV{DESTDIR}${launcher}" SYMBOLIC)

  # udev reads its rules from its own folders only: a package for the prefix /usr puts the
  # rule where Debian 12's udev keeps them (/lib/udev/rules.d); any other prefix keeps it
  # under the prefix (udev also reads /usr/local/lib/udev/rules.d).
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(rules_dir "/lib/udev/rules.d")
  else()
    set(rules_dir "${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d")
  endif()
  # file(INSTALL) puts DESTDIR in front by itself.
  file(INSTALL "${FWU_UDEV_RULE}" DESTINATION "${rules_dir}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
elseif(FWU_INSTALL_STEP STREQUAL "simulator")
  # A script that finds the simulator's copy of the program and the scenarios relative to its
  # own folder.
  fwu_full_path(simulator_dir "${FWU_INSTALL_SIMULATOR_DIR}")
  fwu_full_path(scenarios_dir "${FWU_INSTALL_SCENARIOS_DIR}")
  file(RELATIVE_PATH FWU_SIMULATOR_PROGRAM_RELATIVE "${bin_dir}" "${simulator_dir}")
  file(RELATIVE_PATH FWU_SCENARIOS_RELATIVE "${bin_dir}" "${scenarios_dir}")
  message(STATUS "Installing: $ENV{DESTDIR}${launcher}")
  file(REMOVE "$ENV{DESTDIR}${launcher}")
  configure_file("${FWU_LAUNCHER_TEMPLATE}" "$ENV{DESTDIR}${launcher}" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endif()
