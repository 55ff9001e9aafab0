# Writes the resource lines of an update package: every UPDATA.INI, NOTE.TXT and
# *.pak of PACKAGE_DIR as an RCDATA resource named after its file (upper case).
# RECORD, when set, is the package's checksum record, compiled in as PACKAGE.CRC.
# Run as: cmake -DPACKAGE_DIR=... [-DRECORD=...] -DOUT=... -P package_rc.cmake
file(GLOB files LIST_DIRECTORIES false "${PACKAGE_DIR}/*")
list(SORT files)
set(text "// Generated from ${PACKAGE_DIR}\nLANGUAGE LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL\n")
set(count 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  string(TOUPPER "${name}" upper)
  if(upper STREQUAL "UPDATA.INI" OR upper STREQUAL "NOTE.TXT" OR upper MATCHES "\\.PAK$")
    # windres takes the name as a bare word (quoted names would merge with the string
    # before them), so it must be one.
    if(NOT upper MATCHES "^[A-Z_][A-Z0-9_.]*$")
      message(FATAL_ERROR "package file ${name}: a resource name holds only letters, digits, '_' and '.', "
                          "and does not begin with a digit")
    endif()
    string(REPLACE "\\" "/" path "${file}")
    string(APPEND text "${upper} RCDATA \"${path}\"\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(RECORD)
  string(REPLACE "\\" "/" record_path "${RECORD}")
  string(APPEND text "PACKAGE.CRC RCDATA \"${record_path}\"\n")
endif()
if(count EQUAL 0)
  message(STATUS "no update package files in ${PACKAGE_DIR}")
endif()
# Rewrite only on change, so the resources are not rebuilt for nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${text}")
