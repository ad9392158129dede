# Loaded (CMAKE_PROJECT_INCLUDE) only by scripts/windows-check, which configures the
# program for Windows with MinGW-w64 against this machine's Qt, since there is no Qt for
# Windows here. Once the top folder is read it makes Linux's Qt look like an import
# library (the generator asks for one on Windows) and drops /usr/include from the include
# paths Qt's packages hand on, so that a Windows compiler sees its own C library.
function(tarnwick_windows_check_imports)
  get_property(targets DIRECTORY "${CMAKE_SOURCE_DIR}" PROPERTY IMPORTED_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(dirs)
      list(REMOVE_ITEM dirs /usr/include)
      set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${dirs}")
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      foreach(config "" _DEBUG _RELEASE _RELWITHDEBINFO)
        get_target_property(location ${target} IMPORTED_LOCATION${config})
        if(location)
          set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB${config} "${location}")
        endif()
      endforeach()
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL tarnwick_windows_check_imports)
