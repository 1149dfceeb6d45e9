# Install-time step: the launcher link in bin/, made for the prefix in force when installing.
# Variables come from resources/CMakeLists.txt.
function(fwu_full_path result folder)
  if(IS_ABSOLUTE "${folder}")
    set(${result} "${folder}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${folder}" PARENT_SCOPE)
  endif()
endfunction()

fwu_full_path(program_dir "${FWU_INSTALL_PROGRAM_DIR}")
fwu_full_path(bin_dir "${FWU_INSTALL_BINDIR}")

# A relative link keeps the installed tree movable. The program finds its vendor library
# through its own resolved path, so starting it through the link works.
set(launcher "${bin_dir}/${FWU_LAUNCHER_NAME}")
file(RELATIVE_PATH link_target "${bin_dir}" "${program_dir}/FWUpdater")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${bin_dir}")
message(STATUS "Installing: $ENV{DESTDIR}${launcher} -> ${link_target}")
file(CREATE_LINK "${link_target}" "$ENV{DESTDIR}${launcher}" SYMBOLIC)
