# Draws the frames of a busy animation as SVG, renders them and assembles a looping GIF.
#   cmake -DKIND=spinner|dots -DOUT=out.gif -DWORK=<folder> -DRSVG=<rsvg-convert> -DCONVERT=<convert>
#         -P animation.cmake
# spinner: twelve bars, 50 px, one turn per second. dots: eight dots, 64 px, a turn in 0.8 s.
# The trail fades from brand red to a pale tint (GIF has no partial transparency), which keeps
# the head visible on white pages and the tail visible on red buttons.
set(trail "#BF1E2E" "#C53040" "#CB4352" "#D15564" "#D76876" "#DD7A88"
          "#E28D99" "#E89FAB" "#EEB2BC" "#F1BEC6" "#F4CAD0" "#F7D6DA")
file(MAKE_DIRECTORY "${WORK}")

if(KIND STREQUAL "spinner")
    set(count 12)
    set(size 50)
    set(delay 8)
elseif(KIND STREQUAL "dots")
    set(count 8)
    set(size 64)
    set(delay 10)
    # Dot centres on a circle of radius 22 around (32, 32), clockwise from the top.
    set(dot_x 32 47.56 54 47.56 32 16.44 10 16.44)
    set(dot_y 10 16.44 32 47.56 54 47.56 32 16.44)
    set(dot_r 6.5 6 5.5 5 4.5 4 3.5 3.5)
    set(dot_colour 0 2 4 6 8 9 10 11)
else()
    message(FATAL_ERROR "unknown KIND ${KIND}")
endif()

set(frames)
math(EXPR last "${count} - 1")
foreach(f RANGE ${last})
    set(svg "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"${size}\" height=\"${size}\" viewBox=\"0 0 ${size} ${size}\">\n")
    foreach(i RANGE ${last})
        # k: how far bar i lies behind the head, which sits on bar f.
        math(EXPR k "(${f} - ${i} + ${count}) % ${count}")
        if(KIND STREQUAL "spinner")
            list(GET trail ${k} colour)
            math(EXPR angle "${i} * 30")
            string(APPEND svg "<rect x=\"22.5\" y=\"3\" width=\"5\" height=\"13\" rx=\"2.5\" fill=\"${colour}\" transform=\"rotate(${angle} 25 25)\"/>\n")
        else()
            list(GET dot_x ${i} x)
            list(GET dot_y ${i} y)
            list(GET dot_r ${k} r)
            list(GET dot_colour ${k} c)
            list(GET trail ${c} colour)
            string(APPEND svg "<circle cx=\"${x}\" cy=\"${y}\" r=\"${r}\" fill=\"${colour}\"/>\n")
        endif()
    endforeach()
    string(APPEND svg "</svg>\n")
    if(f LESS 10)
        set(f "0${f}")
    endif()
    file(WRITE "${WORK}/frame${f}.svg" "${svg}")
    execute_process(COMMAND "${RSVG}" -o "${WORK}/frame${f}.png" "${WORK}/frame${f}.svg" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "rsvg-convert failed on frame ${f}")
    endif()
    list(APPEND frames "${WORK}/frame${f}.png")
endforeach()

execute_process(COMMAND "${CONVERT}" -dispose Background -delay ${delay} -loop 0 ${frames} "${OUT}"
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "convert failed (${rc})")
endif()
