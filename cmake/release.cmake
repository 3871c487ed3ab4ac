# The shipped client as an administrator receives it (release preset, OSTREVANE_RELEASE=ON):
# optimised, its debug information in a separate file named by a debug link, hardened, and
# reproducible: the same commit built anywhere gives the same bytes (no build paths inside, the
# commit time as the PE time stamp), packed into a zip whose times and order are fixed too.
option(OSTREVANE_RELEASE "Build the release archive of the shipped client" OFF)
set(OSTREVANE_PYTHON /usr/bin/python3 CACHE FILEPATH "Python for the release scripts (Debian's)")
set(OSTREVANE_RELEASE_TOOLS "${CMAKE_SOURCE_DIR}/tools/release")

if(TARGET Ostrevane.Client)
    # Address-space randomisation with a 64-bit range and no executable data, in every build.
    target_link_options(Ostrevane.Client PRIVATE -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
endif()

if(OSTREVANE_BUILD_TESTS OR OSTREVANE_RELEASE)
    enable_testing()
    add_test(NAME default_server_url_is_checked
        COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DWORK_DIR=${CMAKE_BINARY_DIR}/default_server_url_check
            -P "${OSTREVANE_RELEASE_TOOLS}/check-default-server-url.cmake")
endif()

if(NOT OSTREVANE_RELEASE OR NOT TARGET Ostrevane.Client)
    return()
endif()

# The commit time stands for the build time wherever a time is written.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(OSTREVANE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE OSTREVANE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_result)
    if(NOT git_result EQUAL 0)
        message(FATAL_ERROR "A release build needs the commit time: build from a git clone or set SOURCE_DATE_EPOCH")
    endif()
endif()
if(NOT OSTREVANE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH \"${OSTREVANE_SOURCE_DATE_EPOCH}\" is not a number of seconds")
endif()

# The optimisation of the tested build (Release), with debug information, which leaves the
# executable for a file of its own after the link.
target_compile_options(ostrevane_options INTERFACE -g)

# No path of this machine inside the objects or their debug information. Every target of ours
# links ostrevane_options, so its usage requirements reach them all.
target_compile_options(ostrevane_options INTERFACE "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.")
cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${CMAKE_BINARY_DIR}" binary_dir_inside)
if(NOT binary_dir_inside)
    target_compile_options(ostrevane_options INTERFACE "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
endif()

# ccache's base_dir would hand the compiler relative source paths, which then stand in the debug
# information instead of the mapped ones: a build with ccache would differ from one without.
get_property(OSTREVANE_TOP_TARGETS DIRECTORY "${CMAKE_SOURCE_DIR}" PROPERTY BUILDSYSTEM_TARGETS)
foreach(target IN LISTS OSTREVANE_TOP_TARGETS)
    foreach(lang C CXX)
        get_target_property(launcher ${target} ${lang}_COMPILER_LAUNCHER)
        if(launcher MATCHES "ccache")
            set_target_properties(${target} PROPERTIES
                ${lang}_COMPILER_LAUNCHER "${CMAKE_COMMAND};-E;env;CCACHE_BASEDIR=;${launcher}")
        endif()
    endforeach()
endforeach()

target_link_options(Ostrevane.Client PRIVATE -Wl,--no-insert-timestamp)
add_custom_command(TARGET Ostrevane.Client POST_BUILD
    COMMAND ${OSTREVANE_PYTHON} "${OSTREVANE_RELEASE_TOOLS}/finish_executable.py"
        --objcopy "${CMAKE_OBJCOPY}" --epoch ${OSTREVANE_SOURCE_DATE_EPOCH} "$<TARGET_FILE:Ostrevane.Client>"
    VERBATIM)

# The archive: a folder named after the release with the executable, WinDivert's licence notice,
# the user's README and SHA256SUMS.
set(OSTREVANE_RELEASE_NAME "Ostrevane.Client-${PROJECT_VERSION}-win64")
set(OSTREVANE_RELEASE_ZIP "${CMAKE_BINARY_DIR}/${OSTREVANE_RELEASE_NAME}.zip")
set(OSTREVANE_RELEASE_README "${CMAKE_BINARY_DIR}/release/README.txt")
configure_file("${OSTREVANE_RELEASE_TOOLS}/README.txt.in" "${OSTREVANE_RELEASE_README}" @ONLY NEWLINE_STYLE CRLF)
add_custom_command(OUTPUT "${OSTREVANE_RELEASE_ZIP}"
    COMMAND ${OSTREVANE_PYTHON} "${OSTREVANE_RELEASE_TOOLS}/make_zip.py"
        --output "${OSTREVANE_RELEASE_ZIP}" --folder "${OSTREVANE_RELEASE_NAME}" --epoch ${OSTREVANE_SOURCE_DATE_EPOCH}
        "$<TARGET_FILE:Ostrevane.Client>" "${WINDIVERT_DIR}/WinDivert-NOTICE.txt" "${OSTREVANE_RELEASE_README}"
    DEPENDS Ostrevane.Client "${OSTREVANE_RELEASE_TOOLS}/make_zip.py" "${OSTREVANE_RELEASE_README}"
        "${WINDIVERT_DIR}/WinDivert-NOTICE.txt"
    VERBATIM)
add_custom_target(release_zip ALL DEPENDS "${OSTREVANE_RELEASE_ZIP}")

add_test(NAME release_executable_and_archive
    COMMAND ${OSTREVANE_PYTHON} "${OSTREVANE_RELEASE_TOOLS}/check_release.py"
        --exe "$<TARGET_FILE:Ostrevane.Client>" --zip "${OSTREVANE_RELEASE_ZIP}" --folder "${OSTREVANE_RELEASE_NAME}"
        --version "${PROJECT_VERSION}" --default-url "${OSTREVANE_DEFAULT_SERVER_URL}"
        --epoch ${OSTREVANE_SOURCE_DATE_EPOCH} --build-path "${CMAKE_SOURCE_DIR}" --build-path "${CMAKE_BINARY_DIR}"
        --objdump "${CMAKE_OBJDUMP}" --objcopy "${CMAKE_OBJCOPY}" --image-info "$<TARGET_FILE:image_info>"
        --wine-run "${CMAKE_SOURCE_DIR}/tools/wine-run" --check-imports "${CMAKE_SOURCE_DIR}/tools/check-imports.sh")
