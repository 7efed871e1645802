# Turns the text pixel map icon.txt into resource-script source: one RT_ICON
# image (a 32 x 32 DIB of 8 bits per pixel with its transparency mask) and the
# icon group that names it. Run as: cmake -DMAP=icon.txt -DOUT=icon.rc -P make_icon.cmake
file(STRINGS ${MAP} lines)
set(palette "")
set(rows "")
set(in_pixels OFF)
foreach(line IN LISTS lines)
  if(in_pixels)
    string(LENGTH "${line}" width)
    if(NOT width EQUAL 32)
      message(FATAL_ERROR "${MAP}: pixel row of ${width} characters, 32 expected: ${line}")
    endif()
    list(APPEND rows "${line}")
  elseif(line MATCHES "^colour (.) ([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f])$")
    list(APPEND palette "${CMAKE_MATCH_1}")
    list(APPEND colours "${CMAKE_MATCH_4}${CMAKE_MATCH_3}${CMAKE_MATCH_2}00")  # stored blue, green, red, 0
  elseif(line STREQUAL "pixels")
    set(in_pixels ON)
  endif()
endforeach()
list(LENGTH rows height)
list(LENGTH palette colour_count)
if(NOT height EQUAL 32)
  message(FATAL_ERROR "${MAP}: ${height} pixel rows, 32 expected")
endif()
list(FIND palette "." transparent)

# Little-endian hex digits of a value of the given byte width.
function(le_hex value bytes out)
  set(hex "")
  foreach(i RANGE 1 ${bytes})
    math(EXPR byte "${value} & 255")
    math(EXPR value "${value} >> 8")
    math(EXPR hi "${byte} >> 4")
    math(EXPR lo "${byte} & 15")
    string(SUBSTRING "0123456789ABCDEF" ${hi} 1 h)
    string(SUBSTRING "0123456789ABCDEF" ${lo} 1 l)
    string(APPEND hex "${h}${l}")
  endforeach()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# The image as one string of hex digits, two per byte.
set(image_size_bytes 1152)  # 32 x 32 colour indices and 32 rows of 4 mask bytes
set(bytes "")
foreach(field 40 4 32 4 64 4 1 2 8 2 0 4 ${image_size_bytes} 4 0 4 0 4 ${colour_count} 4 0 4)
  list(APPEND header_fields ${field})
endforeach()
set(i 0)
list(LENGTH header_fields n)
while(i LESS n)
  list(GET header_fields ${i} value)
  math(EXPR j "${i} + 1")
  list(GET header_fields ${j} width)
  le_hex(${value} ${width} hex)
  string(APPEND bytes "${hex}")
  math(EXPR i "${i} + 2")
endwhile()
foreach(c IN LISTS colours)
  string(APPEND bytes "${c}")
endforeach()

# Rows are stored bottom-up: colour indices, then the mask (1 = transparent).
set(mask "")
foreach(y RANGE 31 0 -1)
  list(GET rows ${y} row)
  set(bits 0)
  foreach(x RANGE 0 31)
    string(SUBSTRING "${row}" ${x} 1 c)
    list(FIND palette "${c}" index)
    if(index LESS 0)
      message(FATAL_ERROR "${MAP}: pixel '${c}' has no colour line")
    endif()
    le_hex(${index} 1 hex)
    string(APPEND bytes "${hex}")
    if(index EQUAL transparent)
      math(EXPR bits "(${bits} << 1) | 1")
    else()
      math(EXPR bits "${bits} << 1")
    endif()
    math(EXPR bit_in_byte "${x} % 8")
    if(bit_in_byte EQUAL 7)
      le_hex(${bits} 1 hex)
      string(APPEND mask "${hex}")
      set(bits 0)
    endif()
  endforeach()
endforeach()
string(APPEND bytes "${mask}")

# As 16-bit words for the resource compiler's raw data.
string(LENGTH "${bytes}" digits)
math(EXPR image_bytes "${digits} / 2")
set(words "")
set(column 0)
set(i 0)
while(i LESS digits)
  string(SUBSTRING "${bytes}" ${i} 2 lo)
  math(EXPR k "${i} + 2")
  string(SUBSTRING "${bytes}" ${k} 2 hi)
  string(APPEND words "0x${hi}${lo},")
  math(EXPR column "${column} + 1")
  if(column EQUAL 12)
    string(APPEND words "\n  ")
    set(column 0)
  else()
    string(APPEND words " ")
  endif()
  math(EXPR i "${i} + 4")
endwhile()
string(REGEX REPLACE ",[ \n]*$" "" words "${words}")

le_hex(${image_bytes} 4 size_hex)
string(SUBSTRING "${size_hex}" 0 2 s0)
string(SUBSTRING "${size_hex}" 2 2 s1)
string(SUBSTRING "${size_hex}" 4 2 s2)
string(SUBSTRING "${size_hex}" 6 2 s3)
file(WRITE ${OUT} "// Generated from icon.txt by make_icon.cmake.
// The single image of icon group 200: resource type 3 (icon), id 1.
1 3
{
  ${words}
}

// Icon group 200 (resource type 14): one entry, 32 x 32, 8 bits per pixel, image 1.
200 14
{
  0x0000, 0x0001, 0x0001,
  0x2020, 0x0000, 0x0001, 0x0008, 0x${s3}${s2}${s1}${s0}L, 0x0001
}
")
