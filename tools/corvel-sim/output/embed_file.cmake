# Writes OUTPUT: a C++ source defining the bytes of each INPUT_i as the array
# NAME_i and its size NAME_i_size. Run with cmake -P.
set(text "// Generated from the files named below at build time; not edited by hand.\n")
foreach(i RANGE 0 9)
  if(NOT DEFINED INPUT_${i})
    break()
  endif()
  file(READ "${INPUT_${i}}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR bytes "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
  string(APPEND text "// ${INPUT_${i}}\nextern const unsigned char ${NAME_${i}}[] = {${body}0};\n"
                     "extern const unsigned long ${NAME_${i}}_size = ${bytes};\n")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
