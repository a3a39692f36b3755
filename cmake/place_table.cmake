# Turns the place list's data file into C++: run as
#   cmake -DPLACES=places.tsv -DTABLE=place_table.cpp -DCOUNT_HEADER=place_count.h -P place_table.cmake
# Each line of the data file holds latitude, longitude (degrees, five decimals), name and class
# number, separated by tabs; lines starting with '#' are comments. The table keeps the order of the
# file and ends with the entry at 0 N 0 E that ends the list; the count header gives the number of
# places. A malformed line, a place at 0 N 0 E (it would end the list early) or the same place
# twice stops the build with the line's number.
cmake_minimum_required(VERSION 3.25)

file(STRINGS "${PLACES}" lines ENCODING UTF-8)
set(entries "")
set(count 0)
set(line_number 0)
foreach(line IN LISTS lines)
  math(EXPR line_number "${line_number} + 1")
  if(line MATCHES "^#")
    continue()
  endif()
  if(NOT line MATCHES "^(-?[0-9]+\\.[0-9]+)\t(-?[0-9]+\\.[0-9]+)\t([^\t]+)\t([1-4])$")
    message(FATAL_ERROR "${PLACES}:${line_number}: not latitude, longitude, name and class 1 to 4 "
                        "separated by tabs: '${line}'")
  endif()
  set(latitude "${CMAKE_MATCH_1}")
  set(longitude "${CMAKE_MATCH_2}")
  set(name "${CMAKE_MATCH_3}")
  set(class_number "${CMAKE_MATCH_4}")
  if(latitude GREATER 90 OR latitude LESS -90 OR longitude GREATER 180 OR longitude LESS -180)
    message(FATAL_ERROR "${PLACES}:${line_number}: position out of range: '${line}'")
  endif()
  if(latitude EQUAL 0 AND longitude EQUAL 0)
    message(FATAL_ERROR "${PLACES}:${line_number}: a place at 0 N 0 E would end the list: '${line}'")
  endif()
  set(key "place ${latitude} ${longitude} ${name}")
  if(DEFINED "${key}")
    message(FATAL_ERROR "${PLACES}:${line_number}: the same place as line ${${key}}: '${line}'")
  endif()
  set("${key}" ${line_number})
  string(REPLACE "\\" "\\\\" name "${name}")
  string(REPLACE "\"" "\\\"" name "${name}")
  list(APPEND entries "    {${latitude}f, ${longitude}f, \"${name}\", ${class_number}},\n")
  math(EXPR count "${count} + 1")
endforeach()
string(JOIN "" entries ${entries})

file(WRITE "${TABLE}" "// Generated from preview_model/places.tsv by cmake/place_table.cmake.
#include \"preview_model/place_list.h\"

namespace tessmar {

const Place kPlaceList[kPlaceCount + 1] = {
${entries}    {0.0f, 0.0f, \"\", 0},
};

}  // namespace tessmar
")
file(WRITE "${COUNT_HEADER}" "#pragma once
// Generated from preview_model/places.tsv by cmake/place_table.cmake: the number of places.

namespace tessmar {

inline constexpr int kPlaceCount = ${count};

}  // namespace tessmar
")
