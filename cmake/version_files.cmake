# cmake -DSOURCE_DIR=... -DBASE_VERSION=1.0.0 -DOUTPUT_DIR=... -P version_files.cmake
# Writes OUTPUT_DIR/ktr_version.h and OUTPUT_DIR/ktr_version.cmake (see
# Version.cmake for the form of the text). Without git, or when SOURCE_DIR
# is not the top of a git checkout (a tarball unpacked inside some other
# repository), the version is BASE_VERSION alone.
set(version ${BASE_VERSION})
set(commit "")

find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  RESULT_VARIABLE result OUTPUT_VARIABLE top ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(result EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(result EQUAL 0 AND top STREQUAL source)
    # v1.0.0-5-gabc1234[-dirty] after the tag ...
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --tags --long --abbrev=7 --dirty
                            --match v${BASE_VERSION}
                    RESULT_VARIABLE result OUTPUT_VARIABLE describe ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(result EQUAL 0 AND describe MATCHES "^v.*-([0-9]+)-g([0-9a-f]+)(-dirty)?$")
      set(count ${CMAKE_MATCH_1})
      set(commit ${CMAKE_MATCH_2})
      set(dirty "${CMAKE_MATCH_3}")
    else()
      # ... or abc1234[-dirty] with no tag: count from the first commit.
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --abbrev=7 --dirty
                      RESULT_VARIABLE result OUTPUT_VARIABLE describe ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-list --count HEAD
                      RESULT_VARIABLE count_result OUTPUT_VARIABLE count ERROR_QUIET
                      OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(result EQUAL 0 AND count_result EQUAL 0 AND describe MATCHES "^([0-9a-f]+)(-dirty)?$")
        set(commit ${CMAKE_MATCH_1})
        set(dirty "${CMAKE_MATCH_2}")
      endif()
    endif()
    if(commit AND (count GREATER 0 OR dirty))
      set(version "${BASE_VERSION}+git${count}.g${commit}")
      if(dirty)
        string(APPEND version ".dirty")
      endif()
    endif()
  endif()
endif()

file(MAKE_DIRECTORY ${OUTPUT_DIR})
string(CONCAT header "// Made by cmake/version_files.cmake at build time.\n#pragma once\n\nnamespace ktr {\n"
       "inline constexpr char kVersion[] = \"${version}\";\n}  // namespace ktr\n")
set(script "set(KTR_VERSION \"${version}\")\nset(KTR_COMMIT \"${commit}\")\n")
# Written only when changed: the header's users are then not rebuilt.
foreach(pair "ktr_version.h;header" "ktr_version.cmake;script")
  list(GET pair 0 name)
  list(GET pair 1 variable)
  set(old "")
  if(EXISTS ${OUTPUT_DIR}/${name})
    file(READ ${OUTPUT_DIR}/${name} old)
  endif()
  if(NOT old STREQUAL "${${variable}}")
    file(WRITE ${OUTPUT_DIR}/${name} "${${variable}}")
  endif()
endforeach()
