# Run by the resources_windres test:
#   cmake -DWINDRES=... -DPREPROCESSOR=... -DPYTHON=... -DRC_FILE=... \
#         -DCHECKER=... -DOUT_DIR=... -P windres.cmake
# Compiles the resource script to a .res (taken apart by the checker) and to
# the COFF object a MinGW link takes, from outside the source folder, as a
# real build does.

if(NOT WINDRES)
  message(FATAL_ERROR "x86_64-w64-mingw32-windres not found; install binutils-mingw-w64-x86-64")
endif()
if(NOT PYTHON)
  message(FATAL_ERROR "python3 not found; it is needed to check the compiled resources")
endif()

set(preprocess "")
if(PREPROCESSOR)
  set(preprocess "--preprocessor=${PREPROCESSOR}" "--preprocessor-arg=-DRC_INVOKED")
endif()

file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")

foreach(format res coff)
  if(format STREQUAL "res")
    set(out "${OUT_DIR}/velmora.res")
  else()
    set(out "${OUT_DIR}/velmora_rc.o")
  endif()
  execute_process(
    COMMAND "${WINDRES}" ${preprocess} --input-format=rc --output-format=${format}
            -i "${RC_FILE}" -o "${out}"
    WORKING_DIRECTORY "${OUT_DIR}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "windres failed (${result}) writing ${out}")
  endif()
  if(NOT EXISTS "${out}")
    message(FATAL_ERROR "windres wrote no ${out}")
  endif()
endforeach()

get_filename_component(resources "${RC_FILE}" DIRECTORY)
execute_process(
  COMMAND "${PYTHON}" "${CHECKER}" "${resources}" --res "${OUT_DIR}/velmora.res"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the compiled resources do not match velmora.rc and its files")
endif()
