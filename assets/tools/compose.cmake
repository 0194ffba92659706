# Turns a 64x64 glyph of glyphs/ into a finished SVG: the glyph in one colour, or centred on a
# disc (LOOK disc) or on a disc with a soft halo (LOOK ring).
#   cmake -DSRC=glyph.svg -DOUT=out.svg -DCOLOR=#rrggbb [-DLOOK=plain|disc|ring] [-DBACK=#rrggbb]
#         [-DSTROKE=n] -P compose.cmake
file(READ "${SRC}" text)
# Keep what lies between the root element's tags.
string(REGEX REPLACE "^.*<svg[^>]*>" "" inner "${text}")
string(REGEX REPLACE "</svg>.*$" "" inner "${inner}")
string(REPLACE "currentColor" "${COLOR}" inner "${inner}")
if(STROKE)
    string(REPLACE "stroke-width=\"4\"" "stroke-width=\"${STROKE}\"" inner "${inner}")
endif()
if(NOT LOOK)
    set(LOOK plain)
endif()

set(svg "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">\n")
if(LOOK STREQUAL "plain")
    string(APPEND svg "${inner}")
elseif(LOOK STREQUAL "disc")
    string(APPEND svg "<circle cx=\"32\" cy=\"32\" r=\"32\" fill=\"${BACK}\"/>\n"
        "<g transform=\"translate(32 32) scale(0.6) translate(-32 -32)\">${inner}</g>\n")
elseif(LOOK STREQUAL "ring")
    string(APPEND svg "<circle cx=\"32\" cy=\"32\" r=\"32\" fill=\"${BACK}\" fill-opacity=\"0.22\"/>\n"
        "<circle cx=\"32\" cy=\"32\" r=\"26.5\" fill=\"${BACK}\"/>\n"
        "<g transform=\"translate(32 32) scale(0.5) translate(-32 -32)\">${inner}</g>\n")
else()
    message(FATAL_ERROR "unknown LOOK ${LOOK}")
endif()
string(APPEND svg "</svg>\n")
file(WRITE "${OUT}" "${svg}")
