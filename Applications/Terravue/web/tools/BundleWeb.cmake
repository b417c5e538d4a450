# Places the map page files in the program folder (cmake -P).
#   WEB_DIR      the web source folder
#   OUT_DIR      the program folder
#   LEAFLET_DIR  Debian's Leaflet folder, or empty
#   COPIED       files copied unchanged
# terravue.js becomes Leaflet + marker clustering + the page script; terravue.css likewise with
# their style sheets, so that the two files alone bring the map library wherever they are copied.
file(MAKE_DIRECTORY "${OUT_DIR}")
foreach(name ${COPIED})
  file(COPY_FILE "${WEB_DIR}/${name}" "${OUT_DIR}/${name}" ONLY_IF_DIFFERENT)
endforeach()

function(tv_bundle output own)
  set(text "")
  foreach(part ${ARGN})
    # The minified library where it is installed: a third of the bytes for every page to load and
    # parse, and for every saved map to copy.
    string(REGEX REPLACE "\\.js$" ".min.js" minified "${part}")
    if(LEAFLET_DIR AND NOT minified STREQUAL part AND EXISTS "${LEAFLET_DIR}/${minified}")
      set(part "${minified}")
    endif()
    if(LEAFLET_DIR AND EXISTS "${LEAFLET_DIR}/${part}")
      file(READ "${LEAFLET_DIR}/${part}" content)
      # Source-map comments would point at files that are not shipped.
      string(REGEX REPLACE "//# sourceMappingURL=[^\n]*" "" content "${content}")
      string(REGEX REPLACE "/\\*# sourceMappingURL=[^\n]*\\*/" "" content "${content}")
      if(part MATCHES "markercluster")
        set(origin "libjs-leaflet.markercluster, Expat")
      else()
        set(origin "libjs-leaflet, BSD-2-Clause")
      endif()
      string(APPEND text "/* ${part} (${origin}) */\n${content}\n;\n")
    endif()
  endforeach()
  file(READ "${WEB_DIR}/${own}" content)
  string(APPEND text "${content}")
  file(WRITE "${output}.tmp" "${text}")
  file(RENAME "${output}.tmp" "${output}")
endfunction()

tv_bundle("${OUT_DIR}/terravue.js" terravue.js leaflet.js leaflet.markercluster.js)
# The track-log layer is a module of its own, appended to the page script it uses.
if(EXISTS "${WEB_DIR}/terravue_tracks.js")
  file(READ "${WEB_DIR}/terravue_tracks.js" tracks)
  file(APPEND "${OUT_DIR}/terravue.js" "\n${tracks}")
endif()
tv_bundle("${OUT_DIR}/terravue.css" terravue.css leaflet.css MarkerCluster.css MarkerCluster.Default.css)
