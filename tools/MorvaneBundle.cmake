# Lays out the application folder: cmake -DBUNDLE=<dir>/Morvane.app -DEXECUTABLE=<file>
#   [-DMODULES=<m1|m2…>] -DVERSION=<v> -DBUILD=<b> -DIDENTIFIER=<id> -DPUBLIC_KEY=<base64> [-DRESOURCES=<f1|f2…>]
#   -P MorvaneBundle.cmake
# Writes Info.json (a value left empty leaves its key out), bin/morvane, the modules under lib/
# (libmorvane_app.so, libmorvane_update.so) and the resources under share/morvane/, and drops any
# manifest from an earlier layout: the release tool signs the folder as it finally is.
cmake_minimum_required(VERSION 3.21)

if(NOT BUNDLE OR NOT EXECUTABLE)
    message(FATAL_ERROR "BUNDLE and EXECUTABLE are required")
endif()

# The values go into JSON unescaped, so each is held to a character set that needs no escaping.
set(VERSION_PATTERN "^[A-Za-z0-9._+-]*$")
set(BUILD_PATTERN "^[A-Za-z0-9._+-]*$")
set(IDENTIFIER_PATTERN "^[A-Za-z0-9._-]*$")
set(PUBLIC_KEY_PATTERN "^[A-Za-z0-9+/=]*$")

set(json "{")
set(separator "")
foreach(pair "IDENTIFIER:CFBundleIdentifier" "VERSION:CFBundleShortVersionString"
             "BUILD:CFBundleVersion" "PUBLIC_KEY:MorvaneUpdatePublicKey")
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 var)
    list(GET pair 1 key)
    if(NOT "${${var}}" MATCHES "${${var}_PATTERN}")
        message(FATAL_ERROR "${var} has characters Info.json does not take: '${${var}}'")
    endif()
    if(NOT "${${var}}" STREQUAL "")
        string(APPEND json "${separator}\n    \"${key}\": \"${${var}}\"")
        set(separator ",")
    endif()
endforeach()
string(APPEND json "\n}\n")

file(MAKE_DIRECTORY "${BUNDLE}/bin")
file(REMOVE_RECURSE "${BUNDLE}/Signature")
file(WRITE "${BUNDLE}/Info.json.new" "${json}")
file(RENAME "${BUNDLE}/Info.json.new" "${BUNDLE}/Info.json")
file(COPY_FILE "${EXECUTABLE}" "${BUNDLE}/bin/morvane.new")
file(CHMOD "${BUNDLE}/bin/morvane.new" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${BUNDLE}/bin/morvane.new" "${BUNDLE}/bin/morvane")
string(REPLACE "|" ";" modules "${MODULES}")
foreach(module IN LISTS modules)
    get_filename_component(name "${module}" NAME)
    file(MAKE_DIRECTORY "${BUNDLE}/lib")
    file(COPY_FILE "${module}" "${BUNDLE}/lib/${name}.new")
    file(CHMOD "${BUNDLE}/lib/${name}.new" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(RENAME "${BUNDLE}/lib/${name}.new" "${BUNDLE}/lib/${name}")
endforeach()

if(RESOURCES)
    string(REPLACE "|" ";" resources "${RESOURCES}")
    file(MAKE_DIRECTORY "${BUNDLE}/share/morvane")
    foreach(resource IN LISTS resources)
        get_filename_component(name "${resource}" NAME)
        file(COPY_FILE "${resource}" "${BUNDLE}/share/morvane/${name}")
    endforeach()
endif()
