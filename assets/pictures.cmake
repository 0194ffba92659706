# Pictures of the client, made from our SVG sources. Included from CMakeLists.txt, which
# provides `gen`, `src`, tavrix_qrc_entry() and tavrix_rcc().
#
#   tavrix_glyph(<resource> <glyph> <size> [LOOK plain|disc|ring] [COLOR c] [BACK c] [STROKE w])
#       a 64x64 glyph of glyphs/ in one colour (plain) or centred on a disc, rendered size x size
#   tavrix_art(<resource> <art> <width> <height> [TEXT])
#       a whole picture of art/ rendered at the given size; TEXT: it sets words in Montserrat
# The resource name may carry a prefix ("/img:app crash.png"; default "/assets") and a
# sub-folder. Its suffix decides the output: .png, .jpeg (flattened on white) or .svg (the
# composed source itself).

set(red "#BF1E2E")
set(dark_red "#8E1422")
set(text "#434343")
set(white "#FFFFFF")
set(green "#2DBE6C")
set(grey "#9A9A9A")

set(picture_files)
set(picture_entries)   # list of "prefix|alias|file"

# Where a resource goes: sets <out>_prefix, <out>_alias and <out>_file (a name without blanks).
function(tavrix_picture_target resource out)
    set(prefix "/assets")
    if(resource MATCHES "^(/[^:]+):(.*)$")
        set(prefix "${CMAKE_MATCH_1}")
        set(resource "${CMAKE_MATCH_2}")
    endif()
    string(REPLACE " " "_" file "${resource}")
    string(REPLACE "/" "_" flat "${prefix}")
    set(file "${gen}/pictures${flat}/${file}")
    get_filename_component(dir "${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    set(${out}_prefix "${prefix}" PARENT_SCOPE)
    set(${out}_alias "${resource}" PARENT_SCOPE)
    set(${out}_file "${file}" PARENT_SCOPE)
endfunction()

# The commands that turn a rendered PNG (`png`) into the resource file `file`.
function(tavrix_picture_finish file png out_commands)
    set(cmds)
    if(file MATCHES "\\.jpe?g$")
        set(cmds COMMAND ${TAVRIX_CONVERT} ${png} -background white -flatten -strip -quality 92 ${file})
    endif()
    set(${out_commands} ${cmds} PARENT_SCOPE)
endfunction()

macro(tavrix_picture_register)
    list(APPEND picture_files "${t_file}")
    list(APPEND picture_entries "${t_prefix}|${t_alias}|${t_file}")
endmacro()

function(tavrix_glyph resource glyph size)
    cmake_parse_arguments(G "" "LOOK;COLOR;BACK;STROKE" "" ${ARGN})
    if(NOT G_LOOK)
        set(G_LOOK plain)
    endif()
    if(NOT G_COLOR)
        set(G_COLOR ${red})
    endif()
    if(NOT G_BACK)
        set(G_BACK ${red})
    endif()
    tavrix_picture_target("${resource}" t)
    set(svg "${t_file}.svg")
    if(t_file MATCHES "\\.svg$")
        set(svg "${t_file}")
    endif()
    set(cmds COMMAND ${CMAKE_COMMAND} -DSRC=${src}/glyphs/${glyph}.svg -DOUT=${svg} -DLOOK=${G_LOOK}
        -DCOLOR=${G_COLOR} -DBACK=${G_BACK} -DSTROKE=${G_STROKE} -P ${src}/tools/compose.cmake)
    if(NOT t_file MATCHES "\\.svg$")
        set(png "${t_file}")
        if(NOT t_file MATCHES "\\.png$")
            set(png "${t_file}.png")
        endif()
        list(APPEND cmds COMMAND ${TAVRIX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg})
        tavrix_picture_finish("${t_file}" "${png}" more)
        list(APPEND cmds ${more})
    endif()
    add_custom_command(OUTPUT "${t_file}" ${cmds}
        DEPENDS ${src}/glyphs/${glyph}.svg ${src}/tools/compose.cmake
        COMMENT "Drawing ${t_alias}"
        VERBATIM)
    tavrix_picture_register()
    set(picture_files "${picture_files}" PARENT_SCOPE)
    set(picture_entries "${picture_entries}" PARENT_SCOPE)
endfunction()

# Text in pictures is set in Montserrat from the font cache, whatever the machine has installed.
set(picture_fonts_conf ${gen}/fonts.conf)
file(WRITE ${picture_fonts_conf}.tmp "<?xml version=\"1.0\"?>
<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">
<fontconfig>
  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>
  <dir>${fonts_dir}</dir>
  <cachedir>${gen}/fontconfig-cache</cachedir>
</fontconfig>
")
configure_file(${picture_fonts_conf}.tmp ${picture_fonts_conf} COPYONLY)

function(tavrix_art resource art width height)
    cmake_parse_arguments(A "TEXT" "" "" ${ARGN})
    set(renderer ${TAVRIX_RSVG_CONVERT})
    set(inputs ${src}/art/${art}.svg)
    if(A_TEXT)
        set(renderer ${CMAKE_COMMAND} -E env FONTCONFIG_FILE=${picture_fonts_conf} ${TAVRIX_RSVG_CONVERT})
        list(APPEND inputs ${picture_fonts_conf} ${font_files})
    endif()
    tavrix_picture_target("${resource}" t)
    set(png "${t_file}")
    if(NOT t_file MATCHES "\\.png$")
        set(png "${t_file}.png")
    endif()
    tavrix_picture_finish("${t_file}" "${png}" more)
    add_custom_command(OUTPUT "${t_file}"
        COMMAND ${renderer} -w ${width} -h ${height} -o ${png} ${src}/art/${art}.svg
        ${more}
        DEPENDS ${inputs}
        COMMENT "Drawing ${t_alias}"
        VERBATIM)
    tavrix_picture_register()
    set(picture_files "${picture_files}" PARENT_SCOPE)
    set(picture_entries "${picture_entries}" PARENT_SCOPE)
endfunction()

function(tavrix_animation resource kind)
    tavrix_picture_target("${resource}" t)
    add_custom_command(OUTPUT "${t_file}"
        COMMAND ${CMAKE_COMMAND} -DKIND=${kind} -DOUT=${t_file} -DWORK=${gen}/frames/${kind}
            -DRSVG=${TAVRIX_RSVG_CONVERT} -DCONVERT=${TAVRIX_CONVERT} -P ${src}/tools/animation.cmake
        DEPENDS ${src}/tools/animation.cmake
        COMMENT "Animating ${t_alias}"
        VERBATIM)
    tavrix_picture_register()
    set(picture_files "${picture_files}" PARENT_SCOPE)
    set(picture_entries "${picture_entries}" PARENT_SCOPE)
endfunction()

# ---- brand ------------------------------------------------------------------------------------
tavrix_art("logo.png" logo 256 256)
tavrix_art("200.png" logo 200 200)
tavrix_art("120.png" logo 120 120)
tavrix_art("login-logo.png" login-logo 360 360 TEXT)
tavrix_art("tavrix-vpn-logo.png" logo 96 96)
tavrix_art("tavrix-white-logo.png" logo-white 96 96)
tavrix_art("background.png" background-connected 1200 800)
tavrix_art("white_background.png" background-plain 1200 800)
tavrix_art("loginSideImage.png" login-side 640 760 TEXT)
tavrix_art("CongratulationsPopup.png" congratulations 480 320)
tavrix_art("freeUser_Back.png" card-free 600 180)
tavrix_art("loyal_background.png" card-loyal 600 180)
tavrix_art("PremiumBack.png" card-premium 600 180)
tavrix_art("0.png" switch-off 64 64)
tavrix_art("1.png" switch-on 64 64)
tavrix_art("Ellipse.png" dot 12 12)
tavrix_animation("Spinner-1s-50px.gif" spinner)
tavrix_animation("busy.gif" dots)

# ---- connect page -----------------------------------------------------------------------------
tavrix_glyph("disconnected.png" power 260 LOOK ring COLOR ${white} BACK ${red} STROKE 6)
tavrix_glyph("connected.png" power 260 LOOK ring COLOR ${red} BACK ${white} STROKE 6)
tavrix_glyph("protected.png" shield-check 64 COLOR ${white})
tavrix_glyph("not-protected.png" shield-alert 64)
tavrix_glyph("ip.png" ip 64 COLOR ${white})
tavrix_glyph("ip-icon.png" ip 64)
tavrix_glyph("greenDownload.png" arrow-down 40 COLOR ${green} STROKE 6)
tavrix_glyph("greenUpload.png" arrow-up 40 COLOR ${green} STROKE 6)
tavrix_glyph("greenPing.png" pulse 40 COLOR ${green} STROKE 6)

# ---- server categories (list rows and quick buttons) ------------------------------------------
tavrix_glyph("favourit-server.png" star-filled 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("gamming-server.png" gamepad 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("gamming_white.png" gamepad 96 LOOK disc COLOR ${red} BACK ${white} STROKE 5)
tavrix_glyph("high-speed-server.png" bolt 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("streamming-server.png" play 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("streamming_white.png" play 96 LOOK disc COLOR ${red} BACK ${white} STROKE 5)
tavrix_glyph("ad_blocker_server.png" shield-block 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("loyal.png" medal 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("v2rayLogo.jpeg" nodes 96 LOOK disc COLOR ${white} STROKE 5)

# ---- server list ------------------------------------------------------------------------------
tavrix_glyph("menu-hot-dog.png" menu 48 COLOR ${text})
tavrix_glyph("search.png" search 32 COLOR ${text})
tavrix_glyph("arrow.png" chevron-right 28 COLOR ${text} STROKE 6)
tavrix_glyph("location icon.png" pin 28 STROKE 5)
tavrix_glyph("lock.png" lock 28 COLOR ${text} STROKE 5)
tavrix_glyph("Star.png" star-filled 28)
tavrix_glyph("favourit.png" star 28 COLOR ${grey} STROKE 5)

# ---- sign-in ----------------------------------------------------------------------------------
tavrix_glyph("Google.png" globe 64 COLOR ${text})
tavrix_glyph("app store.png" bag 64 COLOR ${text})
tavrix_glyph("mail.png" envelope 64)
tavrix_glyph("icon_profile.png" person 36 COLOR ${text} STROKE 5)
tavrix_glyph("key.png" key 36 COLOR ${text} STROKE 5)
tavrix_glyph("show.png" eye 36 COLOR ${text} STROKE 5)
tavrix_glyph("icon_hide.png" eye-off 36 COLOR ${text} STROKE 5)

# ---- menu -------------------------------------------------------------------------------------
tavrix_glyph("back.png" chevron-left 48 STROKE 6)
tavrix_glyph("support.png" headset 64)
tavrix_glyph("setting.png" gear 64)
tavrix_glyph("purchase_for_friend.png" gift 64)
tavrix_glyph("device.png" devices 64)
tavrix_glyph("About us.png" info 64)
tavrix_glyph("tavrix-more.png" grid 64)
tavrix_glyph("refer.png" people-plus 64)
tavrix_glyph("Private-Browser.png" incognito 64)
tavrix_glyph("redeem voucher.png" ticket 64)
tavrix_glyph("rate_us.png" rate-bubble 64)
tavrix_glyph("log-out.png" logout 64)
tavrix_glyph("my account card.png" card 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("my account free.png" person 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("my account premium.png" crown 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("loyal_server.png" medal 96 LOOK disc COLOR ${white} BACK ${dark_red} STROKE 5)
tavrix_glyph("FreeUsercrown.png" crown 96 COLOR ${white})

# ---- settings ---------------------------------------------------------------------------------
tavrix_glyph("Split Tunnel.png" split 64)
tavrix_glyph("protocol.png" layers 64)
tavrix_glyph("network protection.png" wifi 64)
tavrix_glyph("kill switch.png" plug 64)
tavrix_glyph("general.png" sliders 64)
tavrix_glyph("auto connect.png" autoconnect 64)
tavrix_glyph("darkWeb.png" darkweb 64)
tavrix_glyph("/img:app crash.png" bug 64)
tavrix_glyph("/img:no notifications.png" bell-off 64)
tavrix_glyph("splitTunnel/black-cross.png" cross 40 COLOR ${text} STROKE 6)
tavrix_glyph("splitTunnel/black_add.png" plus 40 COLOR ${text} STROKE 6)
tavrix_glyph("splitTunnel/white_cross.png" cross 40 COLOR ${white} STROKE 6)
tavrix_glyph("splitTunnel/white_add.png" plus 40 COLOR ${white} STROKE 6)

# ---- tools ------------------------------------------------------------------------------------
tavrix_glyph("test.png" gauge 96)
tavrix_glyph("cross.png" cross 64 LOOK disc COLOR ${white} STROKE 7)
tavrix_glyph("toolsDownload.png" download 64)
tavrix_glyph("toolsupload.png" upload 64)
tavrix_glyph("toolsping.png" ping 64)

# ---- account pages ----------------------------------------------------------------------------
tavrix_glyph("Transaction.svg" receipt 64)
tavrix_glyph("copy.png" copy 48 COLOR ${text})
tavrix_glyph("copy2.png" copy 48)
tavrix_glyph("share icon.png" share 48)
tavrix_glyph("referWhite.png" people-plus 48 COLOR ${white})
tavrix_glyph("facebook.png" group 64)
tavrix_glyph("tw.png" hash 64)
tavrix_glyph("messenger.png" chat 64)
tavrix_glyph("linkden.png" briefcase 64)
tavrix_glyph("whatsapp.png" handset 64)
tavrix_glyph("appel.png" phone-round 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("windows.png" desktop 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("android.png" phone 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("huawei.png" tablet 96 LOOK disc COLOR ${white} STROKE 5)
tavrix_glyph("linux.png" terminal 96 LOOK disc COLOR ${white} STROKE 5)

# ---- the collection ---------------------------------------------------------------------------
set(picture_qrc)
foreach(prefix /assets /img)
    string(APPEND picture_qrc "    <qresource prefix=\"${prefix}\">\n")
    if(prefix STREQUAL "/assets")
        tavrix_qrc_entry(picture_qrc "style.qss" "${src}/style.qss")
        tavrix_qrc_entry(picture_qrc "country_calling_code_map.txt" "${src}/country_calling_code_map.txt")
    endif()
    foreach(entry ${picture_entries})
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 p)
        list(GET entry 1 alias)
        list(GET entry 2 file)
        if(p STREQUAL prefix)
            tavrix_qrc_entry(picture_qrc "${alias}" "${file}")
        endif()
    endforeach()
    string(APPEND picture_qrc "    </qresource>\n")
endforeach()
string(APPEND picture_qrc "    <qresource prefix=\"/misc\">\n")
tavrix_qrc_entry(picture_qrc "country_calling_code_map.txt" "${src}/country_calling_code_map.txt")
string(APPEND picture_qrc "    </qresource>\n")
tavrix_rcc(tavrix_pictures "${picture_qrc}"
    "${picture_files};${src}/style.qss;${src}/country_calling_code_map.txt")
