# Copies each country's flag under its resource name and shrinks the whole set in one
# ImageMagick run (the client never shows a flag larger than 48 pixels).
#   cmake -DTABLE=countries.txt -DSOURCE=<flag folder> -DOUT=<folder> -DMOGRIFY=<mogrify> -P flags.cmake
file(STRINGS ${TABLE} lines REGEX "^[0-9]")
file(MAKE_DIRECTORY ${OUT})
set(made)
foreach(line ${lines})
    string(REGEX REPLACE " +" ";" fields "${line}")
    list(GET fields 1 alpha2)
    list(GET fields 2 name)
    file(COPY_FILE ${SOURCE}/${alpha2}.png ${OUT}/flag_${name}.png)
    list(APPEND made ${OUT}/flag_${name}.png)
endforeach()
# -strip drops the time stamps ImageMagick would write, keeping the output reproducible.
execute_process(COMMAND ${MOGRIFY} -resize 128x96 -strip ${made} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "mogrify failed (${rc})")
endif()
