# The first Python 3, of the one CMake found and the system's, that imports
# every module named: a Python of its own ahead on PATH (pyenv, a venv) may
# lack the modules Debian installs for /usr/bin/python3. Leaves `var` empty
# when none does; a value given in the cache is kept.
function(uninst_python_with var description)
  set(${var} "" CACHE FILEPATH "${description}")
  if(${var})
    return()
  endif()
  list(JOIN ARGN ", " modules)
  foreach(candidate IN ITEMS ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import ${modules}"
      RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
    if(missing EQUAL 0)
      set(${var} ${candidate} CACHE FILEPATH "${description}" FORCE)
      return()
    endif()
  endforeach()
endfunction()
