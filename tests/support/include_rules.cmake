# cmake -DROOT=<folder holding src/ and python/> -P include_rules.cmake
# Fails when a file of a source folder includes a project header from a
# folder it may not use, so that what depends on what stays as drawn:
# folder=allowed folders or single headers; * allows everything. A file
# may have a line of its own (cli's plot module draws with the display).
cmake_minimum_required(VERSION 3.25)

set(RULES
  "numtext="
  "settings=numtext device/trigger.h"
  "device=numtext"
  "files=numtext settings/settings.h"
  "record=files numtext"
  "export=files numtext record settings"
  "acquisition=device files record numtext settings"
  "display=record files numtext settings"
  "app=*"
  "doctor=device files numtext"
  "cli=acquisition device doctor export files numtext record settings"
  "cli/plot_module.cpp=acquisition device display doctor export files numtext record settings"
  "python=acquisition cli device display doctor files numtext record settings")

if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${ROOT}/src ${ROOT}/src/*)
set(projectFolders)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY ${ROOT}/src/${folder})
    list(APPEND projectFolders ${folder})
  endif()
endforeach()

function(allowed_for key out)
  set(${out} "-" PARENT_SCOPE)
  foreach(rule IN LISTS RULES)
    string(FIND "${rule}" "=" at)
    string(SUBSTRING "${rule}" 0 ${at} name)
    if(name STREQUAL key)
      math(EXPR from "${at} + 1")
      string(SUBSTRING "${rule}" ${from} -1 list)
      separate_arguments(list)
      set(${out} "${list}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

set(violations 0)
set(checked 0)
foreach(base IN ITEMS src python)
  file(GLOB_RECURSE files RELATIVE ${ROOT}/${base} ${ROOT}/${base}/*.h ${ROOT}/${base}/*.cpp)
  foreach(file IN LISTS files)
    if(base STREQUAL "python")
      set(folder python)
      set(fileKey python/${file})
    else()
      string(REGEX MATCH "^[^/]+" folder "${file}")
      set(fileKey ${file})
    endif()
    allowed_for(${fileKey} allowed)
    if(allowed STREQUAL "-")
      allowed_for(${folder} allowed)
    endif()
    if(allowed STREQUAL "-")
      message(SEND_ERROR "${base}/${file}: the folder ${folder} has no include rule")
      math(EXPR violations "${violations} + 1")
      continue()
    endif()
    file(STRINGS ${ROOT}/${base}/${file} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"(([^/\"]+)/[^\"]+)\"")
        continue()
      endif()
      set(header ${CMAKE_MATCH_1})
      set(used ${CMAKE_MATCH_2})
      if(used STREQUAL folder OR NOT used IN_LIST projectFolders OR "*" IN_LIST allowed
         OR used IN_LIST allowed OR header IN_LIST allowed)
        continue()
      endif()
      message(SEND_ERROR "${base}/${file}:${number} includes ${header}, but ${folder} may not use ${used}")
      math(EXPR violations "${violations} + 1")
    endforeach()
    math(EXPR checked "${checked} + 1")
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no source files under ${ROOT}")
endif()
message(STATUS "${checked} files checked, ${violations} includes against the rules")
