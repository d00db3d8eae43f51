# Builds schedexe-<VERSION>.msi from schedexe.wxs:
#   cmake -DVERSION=1.0.0 -DBIN_DIR=... -DDATA_DIR=... -DOUTPUT=....msi
#         -DSTAGE_DIR=... [-DSTRIP=strip-program] [-DWIXL=wixl] -P build_msi.cmake
# The files the package lists are copied (the programs stripped: the build
# keeps their debug information, the package need not) into STAGE_DIR first,
# so that a missing one stops the build with its name; wixl 0.101 finds
# files by relative paths only, so it runs there.
foreach(variable VERSION BIN_DIR DATA_DIR OUTPUT STAGE_DIR)
  if(NOT ${variable})
    message(FATAL_ERROR "build_msi.cmake: -D${variable}=... is missing")
  endif()
endforeach()
if(NOT WIXL)
  find_program(WIXL wixl)
  if(NOT WIXL)
    message(FATAL_ERROR "wixl not found: it is the Debian package wixl (msitools)")
  endif()
endif()

set(wxs ${CMAKE_CURRENT_LIST_DIR}/schedexe.wxs)
file(READ ${wxs} text)
string(REGEX MATCHALL "\\$\\(var\\.(Bin|Data)Dir\\)/[^\"]+" sources "${text}")
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR})
set(missing "")
foreach(source IN LISTS sources)
  string(REGEX REPLACE "^\\$\\(var\\.(Bin|Data)Dir\\)/" "" name "${source}")
  set(from ${BIN_DIR}/${name})
  if(source MATCHES "DataDir")
    set(from ${DATA_DIR}/${name})
  endif()
  if(NOT EXISTS ${from})
    list(APPEND missing ${from})
  elseif(NOT EXISTS ${STAGE_DIR}/${name})
    file(COPY ${from} DESTINATION ${STAGE_DIR})
    if(STRIP AND name MATCHES "\\.(exe|dll|DLL)$")
      execute_process(COMMAND ${STRIP} --strip-debug ${STAGE_DIR}/${name} RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "stripping ${name} failed")
      endif()
    endif()
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " names)
  message(FATAL_ERROR "the package lists files that were not built:\n  ${names}")
endif()

execute_process(
  COMMAND ${WIXL} -a x64 -D Version=${VERSION} -D BinDir=. -D DataDir=. -o ${OUTPUT} ${wxs}
  WORKING_DIRECTORY ${STAGE_DIR}
  RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "wixl failed on ${wxs}")
endif()
