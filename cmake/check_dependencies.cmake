# Fails unless every folder includes only what it may know (see the root CMakeLists.txt):
#   base/           itself only: the ground every folder stands on
#   ais/            its own top (what every chain shares), and base/
#   ais/<chain>/    its own folder, the top of ais/, and base/
#   ais/fields/     itself, the top of ais/, and base/
#   format/         itself, the top of ais/, ais/fields/, and base/
#   net/            itself and base/
#   sdr/            itself, the decoding chain's interface in ais/, and base/
#   tools/          itself and base/
# app/ may include anything. Each rule is a list of regular expressions a header must match.
# Run as: cmake -DSOURCE_DIR=<top of the tree> -P <this file>.
set(allowed_base "^base/")
set(allowed_ais "^ais/[^/]+$" "^base/")
set(allowed_ais_classic "^ais/classic/" "^ais/[^/]+$" "^base/")
set(allowed_ais_sensitive "^ais/sensitive/" "^ais/[^/]+$" "^base/")
set(allowed_ais_fields "^ais/fields/" "^ais/[^/]+$" "^base/")
set(allowed_format "^format/" "^ais/[^/]+$" "^ais/fields/" "^base/")
set(allowed_net "^net/" "^base/")
set(allowed_sdr "^sdr/" "^ais/decoding_chain.hpp$" "^base/")
set(allowed_tools "^tools/" "^base/")

set(wrong 0)
foreach(folder base ais ais/classic ais/sensitive ais/fields format net sdr tools)
    string(REPLACE "/" "_" rule ${folder})
    if(folder STREQUAL "ais")
        file(GLOB files ${SOURCE_DIR}/ais/*.cpp ${SOURCE_DIR}/ais/*.hpp)
    else()
        file(GLOB_RECURSE files ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.hpp)
    endif()
    foreach(file ${files})
        file(STRINGS ${file} includes REGEX "^#include \"[^\"]+\"")
        foreach(line ${includes})
            string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
            set(known FALSE)
            foreach(pattern ${allowed_${rule}})
                if(header MATCHES "${pattern}")
                    set(known TRUE)
                endif()
            endforeach()
            if(NOT known)
                file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
                message(SEND_ERROR "${shown} includes ${header}: ${folder}/ may not depend on it")
                set(wrong 1)
            endif()
        endforeach()
    endforeach()
endforeach()
if(wrong)
    message(FATAL_ERROR "Folders must depend one way: app -> sdr, format, net -> ais -> base")
endif()
